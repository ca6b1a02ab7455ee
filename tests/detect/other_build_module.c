/* A detector module of another build: its interface number is not this
 * build's. The loader must refuse it without calling it, and calling it
 * ends the test program. */
#include <stdlib.h>

#include "detect/module/interface.h"

__attribute__((visibility("default"))) uint32_t planora_detect_interface(void) { return PLANORA_DETECT_INTERFACE + 1; }

__attribute__((visibility("default"))) int32_t planora_detect_rectangle(const uint8_t* pixels, int32_t width,
                                                                        int32_t height, ptrdiff_t stride,
                                                                        PlanoraDetectResult* result) {
  (void)pixels, (void)width, (void)height, (void)stride, (void)result;
  abort();
}
