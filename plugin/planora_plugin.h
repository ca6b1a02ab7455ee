/*
 * Planora plug-in interface for host authors (C11 or C++).
 *
 * A host loads the plug-in library, calls the registration functions below
 * (any order, any number of times), fills the host record whose address
 * RegisterPluginStruct returns, and calls Execute once per use of the
 * plug-in. Every exported and every host function is called from the host's
 * user-interface thread; the plug-in starts no threads of its own.
 *
 * The three records live inside the plug-in library for its whole life and
 * are zero when it is loaded. Texts are 8-bit and zero-terminated.
 *
 * Layout. On a 32-bit target every record has exactly the byte layout the
 * plug-in format was defined with (712, 288 and 72 bytes). On a 64-bit target
 * the function pointers in THostRecord are 8 bytes: every offset up to byte 47
 * stays, the four image functions sit at 48, 56, 64 and 72, GetIniFileName at
 * 136, and the record is still 288 bytes. The assertions at the end of this
 * header check every offset and size at compile time, in C and in C++.
 */
#ifndef PLANORA_PLUGIN_H
#define PLANORA_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

/* Calling convention of the exports and of the host functions: the standard
   one of 32-bit Windows there, the platform's only one elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define PLANORA_STDCALL __stdcall
#else
#define PLANORA_STDCALL
#endif

#if defined(_WIN32)
#define PLANORA_EXPORT __declspec(dllexport)
#else
#define PLANORA_EXPORT __attribute__((visibility("default")))
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#define PLANORA_POINTER_BYTES 4
#else
#define PLANORA_POINTER_BYTES 8
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- bitmaps -------------------------------------------------------------- */

/* One palette entry, in the byte order of the pixels: blue, green, red. */
typedef struct TPluginPaletteEntry {
  uint8_t Blue;
  uint8_t Green;
  uint8_t Red;
  uint8_t Reserved; /* zero */
} TPluginPaletteEntry;

/*
 * A bitmap that crosses the library boundary. It is the same struct on
 * every platform (only the pointers' width differs), so one host source
 * serves the Linux library and the Windows DLL alike. It is always owned by the
 * plug-in: the host only reads and writes the pixels while a host function
 * has it, and never changes the fields, keeps the pointers or frees anything.
 *
 * Bits points at row 0, the top row; row y starts at Bits + y * BytesPerRow.
 * Rows are padded to a multiple of four bytes; the padding bytes mean nothing.
 *   BitsPerPixel 24: blue, green, red per pixel (GetImage and PutImage always
 *                    get 24 bits per pixel);
 *   BitsPerPixel  8: one palette index per pixel; Palette has PaletteSize
 *                    entries (the glyph has 256).
 * Palette is NULL and PaletteSize 0 when the pixels carry their colour.
 */
typedef struct TPluginBitmap {
  int32_t Width;
  int32_t Height;
  int32_t BytesPerRow;
  int32_t BitsPerPixel;
  int32_t PaletteSize;
  int32_t Reserved; /* zero */
  uint8_t* Bits;
  TPluginPaletteEntry* Palette;
} TPluginBitmap;

/* ---- records -------------------------------------------------------------- */

/* Filled by RegisterPluginHeader; a text longer than its field is cut and
   still zero-terminated. */
typedef struct TPluginHeader {
  char Name[64];         /*   0: "Planora" */
  char Version[64];      /*  64: blank and the file version, " 2.1.0.0" */
  int32_t Kind;          /* 128: 1 */
  char Author[64];       /* 132 */
  char Description[256]; /* 196 */
  uint8_t Reserved[260]; /* 452: always zero */
} TPluginHeader;

/* Right and bottom are exclusive. */
typedef struct TPluginRect {
  int32_t Left;
  int32_t Top;
  int32_t Right;
  int32_t Bottom;
} TPluginRect;

/* Host functions. A null pointer is taken as a host that does not offer the
   function: the plug-in never calls it and treats it as a refusal. */

/* Text: zero-terminated, never NULL (an empty text is a pointer to a zero
   byte). Flag: -1 for true, 0 for false. The result is ignored. The plug-in
   calls it once per run, with an empty text and true, when its window shows. */
typedef int32_t(PLANORA_STDCALL* TShowTextFunc)(const char* Text, int32_t Flag);
/* Called once at the end of each run, after the settings file was written.
   The result is ignored. */
typedef int32_t(PLANORA_STDCALL* TNotifyCloseFunc)(void);
/* Bitmap: 24 bits per pixel, already HostImageWidth x HostImageHeight pixels.
   The host writes its picture into the rows and returns nonzero, or returns
   0 to refuse. */
typedef int32_t(PLANORA_STDCALL* TGetImageFunc)(TPluginBitmap* Bitmap);
/* Bitmap: the result, 24 bits per pixel, same size as the picture. The host
   copies what it needs during the call and returns nonzero, or returns 0 to
   refuse. */
typedef int32_t(PLANORA_STDCALL* TPutImageFunc)(TPluginBitmap* Bitmap);
/* Buffer: Size + 1 bytes the host may use (Size is 255). Returns the path of
   the plug-in's settings file, zero-terminated (in Buffer or in storage of
   the host's that stays valid during the call), or NULL if it has none. */
typedef const char*(PLANORA_STDCALL* TGetIniFileNameFunc)(char* Buffer, int32_t Size);

#if PLANORA_POINTER_BYTES == 4
#define PLANORA_HOST_GAP_AFTER_IMAGE 68 /* 64 .. 131 */
#define PLANORA_HOST_GAP_AT_END 152     /* 136 .. 287 */
#else
#define PLANORA_HOST_GAP_AFTER_IMAGE 56 /* 80 .. 135 */
#define PLANORA_HOST_GAP_AT_END 144     /* 144 .. 287 */
#endif

/* Written by the host after RegisterPluginStruct and before Execute; the
   plug-in only reads it. The HostArea bytes belong to the host. */
typedef struct THostRecord {
  uint8_t HostArea0[28];
  TPluginRect ImageRect; /* 28: the picture, HostImageWidth x HostImageHeight */
  uint8_t HostArea1[4];
  TShowTextFunc ShowText;        /* 48 */
  TNotifyCloseFunc NotifyClose;  /* 52 or 56 */
  TGetImageFunc GetImage;        /* 56 or 64 */
  TPutImageFunc PutImage;        /* 60 or 72 */
  uint8_t HostArea2[PLANORA_HOST_GAP_AFTER_IMAGE];
  TGetIniFileNameFunc GetIniFileName; /* 132 or 136 */
  uint8_t HostArea3[PLANORA_HOST_GAP_AT_END];
} THostRecord;

/* Handed out to the host, which may use it as it likes; the plug-in never
   reads or writes it after load. */
typedef struct TPluginLanguage {
  uint8_t Data[72];
} TPluginLanguage;

/* ---- exports -------------------------------------------------------------- */

/* Always 1. */
PLANORA_EXPORT int32_t PLANORA_STDCALL RegisterCompatibility(void);
/* Address of the plug-in's application-object reference: the variable through
   which it reaches the object that owns its windows and runs their message
   loop. A host may read it or store its own object there before Execute. */
PLANORA_EXPORT void* PLANORA_STDCALL RegisterApplication(void);
PLANORA_EXPORT TPluginLanguage* PLANORA_STDCALL RegisterPluginLanguage(void);
/* Fills the header (again, with the same values, on every call). */
PLANORA_EXPORT TPluginHeader* PLANORA_STDCALL RegisterPluginHeader(void);
PLANORA_EXPORT THostRecord* PLANORA_STDCALL RegisterPluginStruct(void);
/*
 * The plug-in's 19 x 19 glyph, 8 bits per pixel with a 256-entry palette.
 * Every call returns a new handle, which the caller owns.
 *   Windows: an HBITMAP loaded from the DLL's bitmap resource "GLYPH"
 *            (LoadBitmapA); release it with DeleteObject.
 *   Elsewhere: a TPluginBitmap whose palette and pixels lie in the same
 *            block of memory, allocated with malloc; release it with one
 *            call of free().
 * NULL when it could not be made.
 */
#if defined(_WIN32)
typedef void* TPluginGlyph; /* HBITMAP */
#else
typedef TPluginBitmap* TPluginGlyph;
#endif
PLANORA_EXPORT TPluginGlyph PLANORA_STDCALL RegisterPluginGlyph(void);
/* Runs the plug-in's window modally on the picture the host record
   describes. 1 when a result was handed over through PutImage, else 0. */
PLANORA_EXPORT int32_t PLANORA_STDCALL Execute(void);

/*
 * Version record. On Windows it is the DLL's VERSIONINFO resource. Elsewhere
 * the library file carries an ELF section of this name: first
 * eleven little-endian 32-bit fields (signature 0xFEEF04BD, structure version,
 * file version high and low part, product version high and low part, flags
 * mask, flags, operating system, file type, file subtype; a high part holds
 * major << 16 | minor, a low part release << 16 | build), then the 16-bit
 * language (0x0809) and code page (1252), then zero-terminated key and value
 * texts in pairs, ended by an empty key.
 */
#define PLANORA_VERSION_SECTION ".planora.version"

/* ---- layout checks -------------------------------------------------------- */

#ifdef __cplusplus
#define PLANORA_ASSERT_LAYOUT(cond) static_assert(cond, #cond)
#else
#define PLANORA_ASSERT_LAYOUT(cond) _Static_assert(cond, #cond)
#endif

PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Name) == 0);
PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Version) == 64);
PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Kind) == 128);
PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Author) == 132);
PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Description) == 196);
PLANORA_ASSERT_LAYOUT(offsetof(TPluginHeader, Reserved) == 452);
PLANORA_ASSERT_LAYOUT(sizeof(TPluginHeader) == 712);

PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, ImageRect) == 28);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, ImageRect.Top) == 32);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, ImageRect.Right) == 36);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, ImageRect.Bottom) == 40);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, ShowText) == 48);
#if PLANORA_POINTER_BYTES == 4
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, NotifyClose) == 52);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, GetImage) == 56);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, PutImage) == 60);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, GetIniFileName) == 132);
PLANORA_ASSERT_LAYOUT(sizeof(TPluginBitmap) == 32);
#else
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, NotifyClose) == 56);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, GetImage) == 64);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, PutImage) == 72);
PLANORA_ASSERT_LAYOUT(offsetof(THostRecord, GetIniFileName) == 136);
PLANORA_ASSERT_LAYOUT(sizeof(TPluginBitmap) == 40);
#endif
PLANORA_ASSERT_LAYOUT(sizeof(THostRecord) == 288);

PLANORA_ASSERT_LAYOUT(sizeof(TPluginLanguage) == 72);

PLANORA_ASSERT_LAYOUT(offsetof(TPluginBitmap, Bits) == 24);
PLANORA_ASSERT_LAYOUT(sizeof(TPluginPaletteEntry) == 4);

#undef PLANORA_ASSERT_LAYOUT

#ifdef __cplusplus
}
#endif

#endif /* PLANORA_PLUGIN_H */
