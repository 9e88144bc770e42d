// rapidjson_normalise: the baseline for vk-json in a whole process. Reads
// all of standard input as one JSON text, parses it with RapidJSON (UTF-8
// validation, full-precision numbers), writes its compact form and a line
// feed; input is read the same way vk-json reads it.
#include <errno.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

bool read_all(int fd, std::string& out) {
  struct stat st;
  std::size_t size = 65536;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<std::size_t>(st.st_size) + 1;
  out.resize(size);
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    used += static_cast<std::size_t>(n);
  }
  out.resize(used);
  return true;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

int main() {
  std::string input;
  if (!read_all(STDIN_FILENO, input)) return 2;
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
  buffer.Put('\n');
  return write_all(STDOUT_FILENO, std::string_view(buffer.GetString(), buffer.GetSize())) ? 0 : 2;
}
