/* The corner detector's module boundary. The detector and OpenCV live in a
 * module of their own (planora-detect.so) that a program loads only when it
 * first looks for corners, so that the programs themselves carry none of
 * OpenCV's libraries. Plain C across the boundary: pixels in, corners out,
 * nothing of either side's C++ objects, no exception. Any change to what
 * crosses it raises PLANORA_DETECT_INTERFACE; the loader refuses a module
 * of another number. */
#ifndef PLANORA_DETECT_MODULE_INTERFACE_H
#define PLANORA_DETECT_MODULE_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PLANORA_DETECT_INTERFACE 1u
#define PLANORA_DETECT_MODULE_FILE "planora-detect.so"

/* What planora_detect_rectangle returns. */
enum {
  PLANORA_DETECT_DONE = 0,      /* looked: Found says whether, Reason why not */
  PLANORA_DETECT_NO_MEMORY = 1, /* ran out of memory on the way */
  PLANORA_DETECT_FAILED = 2     /* any other failure; Reason says what */
};

typedef struct PlanoraDetectResult {
  int32_t Found;
  /* Photo pixel positions (column, row; pixel centres at whole numbers), in
     outline order round the object. */
  double Corners[4][2];
  double Confidence; /* 0..1 */
  char Reason[512];  /* NUL-terminated; empty when found */
} PlanoraDetectResult;

/* PLANORA_DETECT_INTERFACE of the module's build. */
uint32_t planora_detect_interface(void);

/* Looks for the object on 24-bit BGR rows, top row first, `stride` bytes
   apart (at least 3 * width). */
int32_t planora_detect_rectangle(const uint8_t* pixels, int32_t width, int32_t height, ptrdiff_t stride,
                                 PlanoraDetectResult* result);

typedef uint32_t (*PlanoraDetectInterfaceFunction)(void);
typedef int32_t (*PlanoraDetectRectangleFunction)(const uint8_t*, int32_t, int32_t, ptrdiff_t,
                                                  PlanoraDetectResult*);

#ifdef __cplusplus
}
#endif

#endif
