/* <ctype.h> of macOS, with the character-class bits of its rune tables
 * (_CTYPE_*), which libc++ uses as its ctype masks on Apple platforms.
 * macOS defines the is*() calls as inline functions; plain declarations here.
 * Follows: the ctype(3) and isalpha(3) manual pages of macOS; the _CTYPE_
 * bit values are those of the BSD rune locale (unsure: not in the pages). */
#ifndef VK_SDK_CTYPE_H
#define VK_SDK_CTYPE_H

#include <sys/_types.h>

#define _CTYPE_A 0x00000100L
#define _CTYPE_C 0x00000200L
#define _CTYPE_D 0x00000400L
#define _CTYPE_G 0x00000800L
#define _CTYPE_L 0x00001000L
#define _CTYPE_P 0x00002000L
#define _CTYPE_S 0x00004000L
#define _CTYPE_U 0x00008000L
#define _CTYPE_X 0x00010000L
#define _CTYPE_B 0x00020000L
#define _CTYPE_R 0x00040000L
#define _CTYPE_I 0x00080000L
#define _CTYPE_T 0x00100000L
#define _CTYPE_Q 0x00200000L

#ifdef __cplusplus
extern "C" {
#endif

int isalnum(int c);
int isalpha(int c);
int isblank(int c);
int iscntrl(int c);
int isdigit(int c);
int isgraph(int c);
int islower(int c);
int isprint(int c);
int ispunct(int c);
int isspace(int c);
int isupper(int c);
int isxdigit(int c);
int tolower(int c);
int toupper(int c);
int isascii(int c);
int toascii(int c);
int digittoint(int c);

#ifdef __cplusplus
}
#endif

#endif
