// rapidjson_normalise: the baseline for vk-json in a whole process. Reads
// all of standard input as one JSON text, parses it with RapidJSON (UTF-8
// validation, full-precision numbers), writes its compact form and a line
// feed; standard input and output are handled exactly as vk-json does.
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "tools/whole_stream.h"

int main() {
  std::string input;
  if (!vk::tools::read_whole_stream(STDIN_FILENO, input)) return 2;
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;
  rapidjson::Document doc;
  doc.Parse<kFlags>(input.data(), input.size());
  if (doc.HasParseError()) {
    std::fprintf(stderr, "%s at offset %zu\n", rapidjson::GetParseError_En(doc.GetParseError()), doc.GetErrorOffset());
    return 1;
  }
  std::string().swap(input);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  doc.Accept(writer);
  const std::string_view text(buffer.GetString(), buffer.GetSize());
  return vk::tools::write_whole_stream(STDOUT_FILENO, text) && vk::tools::write_whole_stream(STDOUT_FILENO, "\n") ? 0
                                                                                                                   : 2;
}
