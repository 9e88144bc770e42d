/* <Block.h>: copying and releasing blocks on the heap.
 * Follows: the Block_copy(3) manual page of macOS and clang's documentation
 * of the Blocks language extension. */
#ifndef VK_SDK_BLOCK_H
#define VK_SDK_BLOCK_H

#ifdef __cplusplus
extern "C" {
#endif
void *_Block_copy(const void *aBlock);
void _Block_release(const void *aBlock);
#ifdef __cplusplus
}
#endif

#define Block_copy(...) ((__typeof(__VA_ARGS__))_Block_copy((const void *)(__VA_ARGS__)))
#define Block_release(...) _Block_release((const void *)(__VA_ARGS__))

#endif
