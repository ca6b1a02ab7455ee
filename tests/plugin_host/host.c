/* A host written in C, as a host author would write one against
 * plugin/planora_plugin.h: it loads the plug-in library, reads its header
 * and glyph, fills the host record and runs Execute. The same source is the
 * Linux host (dlopen) and the Windows one (LoadLibraryA), 32 or 64 bits.
 *
 *   planora-test-host LIBRARY WORKDIR MODE
 *
 * On real windows a message box waits for its answer, so each script
 * answers the boxes its run shows ("ok" for the refusals' message).
 * MODE says which run: "flow" (preview, then pretty print: Execute gives 1
 * and the result arrives), "flow-nearest" (the same without colour
 * interpolation), "close" (preview, close, confirm: 0), "shot" (the same,
 * saving a picture of the window to WORKDIR/window.bmp on a screen),
 * "refuse-get" and "refuse-put" (the host refuses the picture or the
 * result: 0), "empty" (an empty picture rectangle: 0, no picture asked for),
 * "huge" (a rectangle of sides near 2^32, whose area overflows 64 bits:
 * refused the same way).
 * The picture handed over is written to WORKDIR/input.ppm, a result to
 * WORKDIR/result.ppm, the glyph to WORKDIR/glyph.ppm, the settings file is
 * WORKDIR/planora.ini (a marker stored there beforehand is used). Exit status
 * 0 when everything the mode expects held; each failed check is printed.
 */
#ifdef _WIN32
#include <windows.h>
#else
#define _POSIX_C_SOURCE 200809L /* setenv */
#include <dlfcn.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "plugin/planora_plugin.h"

#define W 640
#define H 480

static int failures = 0;
static char work[4096];
static int refuseGet = 0, refusePut = 0;
static int getCalls = 0, putCalls = 0, textCalls = 0, closeCalls = 0;

#define CHECK(cond)                                             \
  do {                                                          \
    if (!(cond)) {                                              \
      fprintf(stderr, "host: check failed: %s (line %d)\n", #cond, __LINE__); \
      ++failures;                                               \
    }                                                           \
  } while (0)

static void path(char* out, size_t size, const char* name) { snprintf(out, size, "%s/%s", work, name); }

static unsigned char pixel(int x, int y, int c) {
  /* A checkerboard under gradients: every pixel tells where it came from. */
  return (unsigned char)((x * (2 + c) + y * (3 + c) + (((x / 32) + (y / 32)) % 2) * 100) & 255);
}

static void write_ppm(const char* name, const TPluginBitmap* b) {
  char p[4200];
  path(p, sizeof p, name);
  FILE* f = fopen(p, "wb");
  if (!f) {
    fprintf(stderr, "host: cannot write %s\n", p);
    ++failures;
    return;
  }
  fprintf(f, "P6\n%d %d\n255\n", b->Width, b->Height);
  for (int y = 0; y < b->Height; ++y) {
    const unsigned char* row = b->Bits + (size_t)y * (size_t)b->BytesPerRow;
    for (int x = 0; x < b->Width; ++x) {
      const unsigned char rgb[3] = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
      fwrite(rgb, 1, 3, f);
    }
  }
  fclose(f);
}

/* The glyph as 24-bit rows, top row first, written like a picture. */
static void write_glyph_ppm(const unsigned char* bgr, int width, int height, size_t bytesPerRow) {
  TPluginBitmap b;
  memset(&b, 0, sizeof b);
  b.Width = width;
  b.Height = height;
  b.BytesPerRow = (int32_t)bytesPerRow;
  b.BitsPerPixel = 24;
  b.Bits = (uint8_t*)bgr;
  write_ppm("glyph.ppm", &b);
}

static int32_t PLANORA_STDCALL show_text(const char* text, int32_t flag) {
  ++textCalls;
  CHECK(text != NULL && text[0] == '\0');
  CHECK(flag == -1);
  return 1;
}

static int32_t PLANORA_STDCALL notify_close(void) {
  ++closeCalls;
  return 1;
}

static int32_t PLANORA_STDCALL get_image(TPluginBitmap* b) {
  ++getCalls;
  CHECK(b->Width == W && b->Height == H && b->BitsPerPixel == 24 && b->BytesPerRow >= 3 * W);
  if (refuseGet) return 0;
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x)
      for (int c = 0; c < 3; ++c) b->Bits[(size_t)y * (size_t)b->BytesPerRow + 3 * (size_t)x + (size_t)c] = pixel(x, y, c);
  write_ppm("input.ppm", b);
  return 1;
}

static int32_t PLANORA_STDCALL put_image(TPluginBitmap* b) {
  ++putCalls;
  CHECK(b->Width == W && b->Height == H && b->BitsPerPixel == 24);
  if (refusePut) return 0;
  write_ppm("result.ppm", b);
  return 1;
}

static const char* PLANORA_STDCALL ini_file_name(char* buffer, int32_t size) {
  snprintf(buffer, (size_t)size + 1, "%s/planora.ini", work);
  return buffer;
}

typedef int32_t(PLANORA_STDCALL* TIntFn)(void);
typedef void*(PLANORA_STDCALL* TPtrFn)(void);
typedef TPluginLanguage*(PLANORA_STDCALL* TLanguageFn)(void);
typedef TPluginHeader*(PLANORA_STDCALL* THeaderFn)(void);
typedef THostRecord*(PLANORA_STDCALL* TRecordFn)(void);
typedef TPluginGlyph(PLANORA_STDCALL* TGlyphFn)(void);

#ifdef _WIN32
typedef HMODULE TLibrary;
static TLibrary load(const char* file) { return LoadLibraryA(file); }
static void* symbol(TLibrary lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static void set_script(const char* script) { _putenv_s("PLANORA_SCRIPT", script); }
#else
typedef void* TLibrary;
static TLibrary load(const char* file) { return dlopen(file, RTLD_NOW | RTLD_LOCAL); }
static void* symbol(TLibrary lib, const char* name) { return dlsym(lib, name); }
static void set_script(const char* script) { setenv("PLANORA_SCRIPT", script, 1); }
#endif

static void* need(TLibrary lib, const char* name) {
  void* f = symbol(lib, name);
  if (!f) {
    fprintf(stderr, "host: the library has no export %s\n", name);
    exit(2);
  }
  return f;
}

static void check_header(THeaderFn header) {
  TPluginHeader* h1 = header();
  TPluginHeader copy;
  memcpy(&copy, h1, sizeof copy);
  TPluginHeader* h2 = header();
  CHECK(h1 == h2);
  CHECK(memcmp(&copy, h2, sizeof copy) == 0);
  CHECK(strcmp(h1->Name, "Planora") == 0);
  CHECK(strcmp(h1->Version, " 2.1.0.0") == 0);
  CHECK(h1->Kind == 1);
  CHECK(strcmp(h1->Author, "Vossberg") == 0);
  CHECK(strcmp(h1->Description, "Transformation so that the selected polygon is rectangular") == 0);
  for (size_t i = 0; i < sizeof h1->Reserved; ++i) CHECK(h1->Reserved[i] == 0);
}

#ifdef _WIN32
/* Windows: two handles of the DLL's "GLYPH" resource, an 8-bit bitmap with
   256 colours; the pixels are read back as 24 bits for the comparison. */
static void check_glyphs(TGlyphFn glyph, TLibrary lib) {
  HBITMAP g1 = (HBITMAP)glyph();
  HBITMAP g2 = (HBITMAP)glyph();
  CHECK(g1 != NULL && g2 != NULL && g1 != g2);
  if (!g1 || !g2) return;
  BITMAP info;
  CHECK(GetObjectA(g1, sizeof info, &info) == sizeof info);
  CHECK(info.bmWidth == 19 && info.bmHeight == 19);
  HRSRC found = FindResourceA(lib, "GLYPH", (LPCSTR)RT_BITMAP);
  CHECK(found != NULL);
  if (found) {
    const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)LockResource(LoadResource(lib, found));
    CHECK(header != NULL && header->biWidth == 19 && header->biHeight == 19 && header->biBitCount == 8);
    CHECK(header != NULL && (header->biClrUsed == 256 || header->biClrUsed == 0));
  }
  unsigned char rows[2][19 * 60];
  HDC screen = GetDC(NULL);
  for (int k = 0; k < 2; ++k) {
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 19;
    bi.bmiHeader.biHeight = -19; /* top row first */
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    CHECK(GetDIBits(screen, k == 0 ? g1 : g2, 0, 19, rows[k], &bi, DIB_RGB_COLORS) == 19);
  }
  ReleaseDC(NULL, screen);
  CHECK(memcmp(rows[0], rows[1], sizeof rows[0]) == 0);
  write_glyph_ppm(rows[0], 19, 19, 60);
  DeleteObject(g1);
  DeleteObject(g2);
}

/* The version record, read as any Windows program reads a file's version. */
static void check_version_record(const char* file) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &handle);
  CHECK(size > 0);
  if (size == 0) return;
  char* data = (char*)calloc(1, size);
  CHECK(GetFileVersionInfoA(file, 0, size, data));
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  CHECK(VerQueryValueA(data, "\\", (void**)&fixed, &length) && fixed != NULL);
  if (fixed) {
    CHECK(fixed->dwSignature == 0xFEEF04BDu);
    CHECK(fixed->dwFileVersionMS == 0x00020001u && fixed->dwFileVersionLS == 0);
    CHECK(fixed->dwProductVersionMS == 0x00020000u && fixed->dwProductVersionLS == 0);
  }
  WORD* translation = NULL;
  CHECK(VerQueryValueA(data, "\\VarFileInfo\\Translation", (void**)&translation, &length) && length >= 4);
  if (translation) CHECK(translation[0] == 0x0809 && translation[1] == 1252);
  char* text = NULL;
  CHECK(VerQueryValueA(data, "\\StringFileInfo\\080904E4\\ProductName", (void**)&text, &length) && text &&
        strcmp(text, "Planora") == 0);
  text = NULL;
  CHECK(VerQueryValueA(data, "\\StringFileInfo\\080904E4\\FileDescription", (void**)&text, &length) && text &&
        strcmp(text, "Plugin for Pictoria ") == 0);
  free(data);
}
#else
static void check_glyphs(TGlyphFn glyph, TLibrary lib) {
  (void)lib;
  TPluginBitmap* g1 = glyph();
  TPluginBitmap* g2 = glyph();
  CHECK(g1 != NULL && g2 != NULL && g1 != g2);
  if (!g1 || !g2) return;
  CHECK(g1->Width == 19 && g1->Height == 19 && g1->BitsPerPixel == 8 && g1->PaletteSize == 256);
  CHECK(g1->Bits != g2->Bits);
  for (int y = 0; y < 19; ++y)
    CHECK(memcmp(g1->Bits + y * g1->BytesPerRow, g2->Bits + y * g2->BytesPerRow, 19) == 0);
  CHECK(memcmp(g1->Palette, g2->Palette, 256 * sizeof(TPluginPaletteEntry)) == 0);
  unsigned char rows[19 * 60];
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 19; ++x) {
      const TPluginPaletteEntry* c = &g1->Palette[g1->Bits[y * g1->BytesPerRow + x]];
      rows[y * 60 + 3 * x] = c->Blue;
      rows[y * 60 + 3 * x + 1] = c->Green;
      rows[y * 60 + 3 * x + 2] = c->Red;
    }
  write_glyph_ppm(rows, 19, 19, 60);
  free(g1);
  free(g2);
}
#endif

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: planora-test-host LIBRARY WORKDIR MODE\n");
    return 2;
  }
  snprintf(work, sizeof work, "%s", argv[2]);
  const char* mode = argv[3];
  refuseGet = strcmp(mode, "refuse-get") == 0;
  refusePut = strcmp(mode, "refuse-put") == 0;
  /* "shot" is "close" with a picture of the window after the preview. */
  char shot[4200];
  snprintf(shot, sizeof shot, "Vorschau1;shot:%s/window.bmp;Ende1;ok", work);
  const char* script = strcmp(mode, "flow") == 0         ? "Vorschau1;Fertigstellen1"
                       : strcmp(mode, "shot") == 0       ? shot
                       : strcmp(mode, "flow-nearest") == 0 ? "OhneFarbinterpolation1;Vorschau1;Fertigstellen1"
                       : strcmp(mode, "close") == 0      ? "Vorschau1;Ende1;ok"
                       : strcmp(mode, "refuse-get") == 0 ? "ok;Vorschau1;Ende1"
                       : strcmp(mode, "refuse-put") == 0 ? "Fertigstellen1;ok;Ende1"
                       : strcmp(mode, "empty") == 0      ? "ok"
                       : strcmp(mode, "huge") == 0       ? "ok"
                                                         : "";
  set_script(script);

  TLibrary lib = load(argv[1]);
  if (!lib) {
    fprintf(stderr, "host: cannot load %s\n", argv[1]);
    return 2;
  }
  TIntFn compatibility = (TIntFn)need(lib, "RegisterCompatibility");
  TPtrFn application = (TPtrFn)need(lib, "RegisterApplication");
  TLanguageFn language = (TLanguageFn)need(lib, "RegisterPluginLanguage");
  THeaderFn header = (THeaderFn)need(lib, "RegisterPluginHeader");
  TRecordFn record = (TRecordFn)need(lib, "RegisterPluginStruct");
  TGlyphFn glyph = (TGlyphFn)need(lib, "RegisterPluginGlyph");
  TIntFn execute = (TIntFn)need(lib, "Execute");
  /* Nothing but the seven: the library's own framework stays inside. */
  CHECK(symbol(lib, "_ZN7planora11ApplicationE") == NULL);
#ifdef _WIN32
  check_version_record(argv[1]);
#endif

  CHECK(compatibility() == 1);
  CHECK(application() != NULL);
  TPluginLanguage* lang = language();
  CHECK(lang != NULL);
  for (size_t i = 0; lang && i < sizeof lang->Data; ++i) CHECK(lang->Data[i] == 0);
  check_header(header);
  check_glyphs(glyph, lib);

  THostRecord* host = record();
  CHECK(host == record());
  const int refusedRect = strcmp(mode, "empty") == 0 || strcmp(mode, "huge") == 0;
  if (strcmp(mode, "huge") == 0) {
    host->ImageRect.Left = INT32_MIN;
    host->ImageRect.Right = INT32_MAX;
    host->ImageRect.Top = INT32_MIN;
    host->ImageRect.Bottom = INT32_MAX;
  } else if (strcmp(mode, "empty") == 0) {
    host->ImageRect.Left = 5;
    host->ImageRect.Right = 5;
    host->ImageRect.Top = 0;
    host->ImageRect.Bottom = H;
  } else {
    host->ImageRect.Left = 100;
    host->ImageRect.Top = 50;
    host->ImageRect.Right = 100 + W;
    host->ImageRect.Bottom = 50 + H;
  }
  host->ShowText = show_text;
  host->NotifyClose = notify_close;
  host->GetImage = get_image;
  host->PutImage = put_image;
  host->GetIniFileName = ini_file_name;

  if (strcmp(mode, "twice") == 0) {
    /* A script that ends with the window open: each Execute plays it anew and
       closes the window as a user would (the question after the preview
       answered OK), so the host hears of the close and the settings exist. */
    char ini[4200];
    path(ini, sizeof ini, "planora.ini");
#ifdef _WIN32
    _putenv_s("PLANORA_SCRIPT", "Vorschau1");
#else
    setenv("PLANORA_SCRIPT", "Vorschau1", 1);
#endif
    for (int run = 1; run <= 2; ++run) {
      CHECK(execute() == 0);
      CHECK(getCalls == run && closeCalls == run && putCalls == 0);
      FILE* f = fopen(ini, "rb");
      CHECK(f != NULL);
      if (f) fclose(f);
    }
    if (failures) fprintf(stderr, "host: %d check(s) failed in mode %s\n", failures, mode);
    return failures ? 1 : 0;
  }
  const int32_t result = execute();
  const int flow = strncmp(mode, "flow", 4) == 0;
  CHECK(result == (flow ? 1 : 0));
  if (refusedRect) {
    CHECK(getCalls == 0 && textCalls == 0);
  } else {
    CHECK(getCalls == 1 && textCalls == 1 && closeCalls == 1);
    CHECK(putCalls == (flow || refusePut ? 1 : 0));
  }
  /* Like most hosts, this one keeps its plug-ins loaded until it ends: a
     library with a toolkit in it cannot always be unloaded cleanly. */
  if (failures) fprintf(stderr, "host: %d check(s) failed in mode %s\n", failures, mode);
  return failures ? 1 : 0;
}
