/* <nl_types.h> of macOS (message catalogues; libc++'s <locale> uses them).
 * Follows: the catopen(3) manual page of macOS. */
#ifndef VK_SDK_NL_TYPES_H
#define VK_SDK_NL_TYPES_H

#define NL_SETD 1
#define NL_CAT_LOCALE 1

typedef struct __nl_cat_d *nl_catd;
typedef int nl_item;

#ifdef __cplusplus
extern "C" {
#endif
nl_catd catopen(const char *name, int oflag);
char *catgets(nl_catd catd, int set_id, int msg_id, const char *s);
int catclose(nl_catd catd);
#ifdef __cplusplus
}
#endif

#endif
