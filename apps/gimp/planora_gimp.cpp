// planora-gimp: Planora inside GIMP 2.10.
//
// Two procedures:
//   plug-in-planora             Filters > Distorts > Planora: Straighten…
//       Plays the host for libPPlanora.so (through its seven exports and
//       the host record only, with the host code the desktop program uses):
//       the plug-in's own window straightens the layer, or the selection's
//       bounds on it, and the result comes back as one undo step.
//   plug-in-planora-straighten  the same without a window, for scripts:
//       corners, crop and sampling are arguments, and the pixels are made
//       by the batch tool's run itself, so a corner set gives the bytes
//       planora-rectify gives.
//
// Only libgimp is used, not libgimpui: the plug-in library opens its windows
// on Qt in this process, and GTK 2 must not be loaded beside it.
#include <glib/gstdio.h>
#include <libgimp/gimp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <locale>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "apps/host/plugin_host.h"
#include "apps/imageio/imageio.h"
#include "apps/rectify/batch.h"

namespace {

using planora::TPhoto;
using planora::TPluginLibrary;

const char* const kMenuProcedure = "plug-in-planora";
const char* const kBatchProcedure = "plug-in-planora-straighten";

// The part of a drawable a run works on, in the drawable's own pixels.
struct TRegion {
  gint32 Image = -1, Drawable = -1;
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Grey = false, Alpha = false;
};

// A run that cannot be done; the text is shown as GIMP's message.
struct ERefused {
  std::string Text;
};

// The selection's bounds on the drawable, or the whole drawable without a
// selection. Indexed pixels cannot take the straightened colours, and a
// region of less than 2 x 2 pixels has nothing to straighten.
TRegion RegionOf(gint32 image, gint32 drawable) {
  TRegion r;
  r.Image = image;
  r.Drawable = drawable;
  if (!gimp_item_is_valid(drawable) || !gimp_item_is_drawable(drawable))
    throw ERefused{"Planora needs a layer to straighten."};
  // A mask or channel would have its whole image turned to RGB for a result
  // that is not a picture; a layer group has no pixels of its own.
  if (!gimp_item_is_layer(drawable) || gimp_item_is_group(drawable))
    throw ERefused{"Planora straightens the pixels of a layer: choose the photo's layer, not a mask, channel or "
                   "layer group."};
  if (gimp_drawable_is_indexed(drawable))
    throw ERefused{"Planora cannot straighten an indexed-colour image: convert it with Image > Mode > RGB first."};
  gint x = 0, y = 0, w = 0, h = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h) || w <= 0 || h <= 0)
    throw ERefused{"The selection does not cover any pixel of the layer: select the photo (or nothing) first."};
  if (w < 2 || h < 2)
    throw ERefused{"The selection is " + std::to_string(w) + " x " + std::to_string(h) +
                   " pixels; Planora needs at least 2 x 2."};
  r.X = x;
  r.Y = y;
  r.Width = w;
  r.Height = h;
  r.Grey = gimp_drawable_is_gray(drawable);
  r.Alpha = gimp_drawable_has_alpha(drawable);
  return r;
}

// The region's pixels as the plug-ins take them: blue, green, red, no padding.
TPhoto ReadRegion(const TRegion& r) {
  TPhoto p;
  p.Width = r.Width;
  p.Height = r.Height;
  p.Pixels.resize(static_cast<std::size_t>(r.Width) * r.Height * 3);
  GeglBuffer* buffer = gimp_drawable_get_buffer(r.Drawable);
  GeglRectangle rect{r.X, r.Y, r.Width, r.Height};
  // GEGL converts any precision and grey to 8-bit R'G'B'; the order is
  // then turned round in place.
  gegl_buffer_get(buffer, &rect, 1.0, babl_format("R'G'B' u8"), p.Pixels.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  for (std::size_t i = 0; i < p.Pixels.size(); i += 3) std::swap(p.Pixels[i], p.Pixels[i + 2]);
  return p;
}

// Writes the result (blue, green, red) into the region as one undo step:
// a grey image becomes RGB first (the result has colour), a layer that is
// to show transparency gets an alpha channel. Pixels where noSource is set
// become transparent; every other pixel is opaque.
void WriteRegion(const TRegion& r, const TPhoto& result, const std::vector<bool>* noSource) {
  if (result.Width != r.Width || result.Height != r.Height)
    throw ERefused{"Planora handed back a picture of another size than the layer's part it was given."};
  gimp_image_undo_group_start(r.Image);
  if (r.Grey) gimp_image_convert_rgb(r.Image);
  bool alpha = r.Alpha;
  if (noSource && !alpha) alpha = gimp_layer_add_alpha(r.Drawable);
  const int channels = alpha ? 4 : 3;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(r.Width) * r.Height * channels);
  for (std::size_t i = 0, n = static_cast<std::size_t>(r.Width) * r.Height; i < n; ++i) {
    std::uint8_t* out = &rows[i * channels];
    const std::uint8_t* in = &result.Pixels[i * 3];
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (alpha) out[3] = noSource && (*noSource)[i] ? 0 : 255;
  }
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(r.Drawable);
  GeglRectangle rect{r.X, r.Y, r.Width, r.Height};
  gegl_buffer_set(shadow, &rect, 0, babl_format(alpha ? "R'G'B'A u8" : "R'G'B' u8"), rows.data(), GEGL_AUTO_ROWSTRIDE);
  gegl_buffer_flush(shadow);
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(r.Drawable, TRUE);
  gimp_drawable_update(r.Drawable, r.X, r.Y, r.Width, r.Height);
  gimp_image_undo_group_end(r.Image);
}

// ------------------------------------------------------------------ window

// The plug-in library: beside this program (a copy in the user's own
// plug-in folder, or the build tree), else where `cmake --install` put it,
// <prefix>/<libdir>/planora, five folders above
// <prefix>/lib/gimp/2.0/plug-ins/planora-gimp.
std::string PluginLibraryPath() { return planora::FindPluginLibrary("", "../../../../.."); }

// The plug-in's settings file lives with GIMP's own settings.
std::string SettingsPath() {
  gchar* path = g_build_filename(gimp_directory(), "planora.ini", nullptr);
  std::string s = path;
  g_free(path);
  return s;
}

// 1 with the result in the drawable, 0 closed without one.
int RunWindow(const TRegion& r) {
  TPhoto picture = ReadRegion(r);
  TPluginLibrary plugin(PluginLibraryPath());
  std::optional<TPhoto> result;
  TPluginLibrary::THost host;
  host.Width = picture.Width;
  host.Height = picture.Height;
  host.GetImage = [&picture](const TPluginLibrary::TRows& rows) {
    const std::size_t row = static_cast<std::size_t>(rows.Width) * 3;
    for (int y = 0; y < rows.Height; ++y) std::memcpy(rows.Row(y), picture.Pixels.data() + y * row, row);
    return true;
  };
  // Kept until the window has gone: the drawable changes once, after the
  // plug-in is done with it.
  host.PutImage = [&result, &r](const TPluginLibrary::TRows& rows) {
    if (rows.Width != r.Width || rows.Height != r.Height) return false;
    TPhoto p;
    p.Width = rows.Width;
    p.Height = rows.Height;
    const std::size_t row = static_cast<std::size_t>(rows.Width) * 3;
    p.Pixels.resize(row * static_cast<std::size_t>(rows.Height));
    for (int y = 0; y < rows.Height; ++y) std::memcpy(p.Pixels.data() + y * row, rows.Row(y), row);
    result = std::move(p);
    return true;
  };
  host.SettingsPath = SettingsPath();
  host.ShowText = [](const std::string& text) {
    if (text.empty()) {
      gimp_progress_set_text("Planora: straighten in its window");
    } else if (g_utf8_validate(text.c_str(), -1, nullptr)) {
      gimp_progress_set_text(text.c_str());
    } else {
      // The texts are 8-bit; GIMP takes UTF-8 only.
      gchar* utf8 = g_convert(text.c_str(), -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
      if (utf8) gimp_progress_set_text(utf8);
      g_free(utf8);
    }
  };
  gimp_progress_init("Planora");
  const int code = plugin.Run(host);
  gimp_progress_end();
  if (code != 1 || !result) return 0;
  WriteRegion(r, *result, nullptr);
  return 1;
}

// ------------------------------------------------------------------- batch

// A temporary file of GIMP's, removed when it goes.
struct TTempFile {
  std::string Path;
  TTempFile() {
    gchar* name = gimp_temp_name("ppm");
    Path = name;
    g_free(name);
  }
  ~TTempFile() { g_unlink(Path.c_str()); }
};

struct TBatchArguments {
  std::vector<double> Corners;  // a, b, c, d as column, row of the drawable
  int Crop = 90;
  bool Interpolate = true;
  bool Transparent = false;
};

// planora-rectify's own run on the picture, through lossless files: the
// same reading, corner checks, surfaces and resampling, hence its bytes.
TPhoto RunRectify(const TPhoto& picture, const TRegion& r, const TBatchArguments& a) {
  TTempFile in, out;
  planora::WritePhoto(in.Path, picture);
  planora::TBatchOptions o;
  o.Input = in.Path;
  o.Output = out.Path;
  std::vector<double> corners = a.Corners;
  // Corners are in the drawable's pixels; the run sees the region only.
  for (int k = 0; k < 4; ++k) {
    corners[2 * k] -= r.X;
    corners[2 * k + 1] -= r.Y;
  }
  o.Corners = corners;
  o.PixelCorners = true;
  o.Crop = a.Crop;
  o.Nearest = !a.Interpolate;
  std::ostringstream report, messages;
  if (planora::RunBatch(o, report, messages, false) != planora::kExitOk) {
    std::string text = messages.str();
    // Its messages speak as the tool does; here GIMP says whose they are.
    for (std::size_t at; (at = text.find("planora-rectify: ")) != std::string::npos;) text.erase(at, 17);
    if (const std::size_t see = text.find("\n(see "); see != std::string::npos) text.erase(see);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    throw ERefused{"Planora cannot straighten with these corners: " + text};
  }
  return planora::ReadPhoto(out.Path);
}

void RunBatchProcedure(const TRegion& r, const TBatchArguments& a) {
  if (a.Crop < 1 || a.Crop > 100)
    throw ERefused{"The crop size must be from 1 to 100 per cent, not " + std::to_string(a.Crop) + "."};
  // Said in the caller's pixels here; the batch run's own check, which
  // stays the final word, would speak in its world units.
  for (int k = 0; k < 4; ++k) {
    const double x = a.Corners[2 * k], y = a.Corners[2 * k + 1];
    if (!(x >= r.X && x <= r.X + r.Width && y >= r.Y && y <= r.Y + r.Height)) {
      std::ostringstream m;
      m.imbue(std::locale::classic());
      m << "Corner " << "abcd"[k] << " (" << x << ", " << y << ") lies outside the "
        << (r.X != 0 || r.Y != 0 || r.Width != gimp_drawable_width(r.Drawable) ||
                    r.Height != gimp_drawable_height(r.Drawable)
                ? "selection's bounds"
                : "layer")
        << ", which spans columns " << r.X << " .. " << r.X + r.Width << " and rows " << r.Y << " .. "
        << r.Y + r.Height << ".";
      throw ERefused{m.str()};
    }
  }
  gimp_progress_init("Planora: straightening");
  TPhoto picture = ReadRegion(r);
  TPhoto result = RunRectify(picture, r, a);
  std::vector<bool> noSource;
  if (a.Transparent) {
    // The pixels without a source are red in any run; in a run on a black
    // picture every other pixel is black, whatever the sampling. That run
    // marks them exactly, with the same engine.
    std::fill(picture.Pixels.begin(), picture.Pixels.end(), 0);
    const TPhoto probe = RunRectify(picture, r, a);
    noSource.resize(static_cast<std::size_t>(probe.Width) * probe.Height);
    for (std::size_t i = 0; i < noSource.size(); ++i) noSource[i] = probe.Pixels[3 * i + 2] != 0;
  }
  WriteRegion(r, result, a.Transparent ? &noSource : nullptr);
  gimp_progress_end();
}

// -------------------------------------------------------------------- GIMP

void Query() {
  static const GimpParamDef common[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
  };
  gimp_install_procedure(
      kMenuProcedure, "Straighten a photographed rectangle in Planora's window",
      "Opens Planora's rectification window on the layer (or the selection's bounds on it). Put the four corners "
      "on a rectangle of the photo; Planora works out the camera and redraws the photo as if taken square-on, "
      "with the object's true proportions. The result replaces the pixels as one step that Undo takes back. "
      "Grey images become RGB. The window's settings are kept in planora.ini in GIMP's profile folder.",
      "Planora", "Planora", "2026", "Planora: _Straighten…", "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(common), 0,
      common, nullptr);
  gimp_plugin_menu_register(kMenuProcedure, "<Image>/Filters/Distorts");

  static const GimpParamDef batch[] = {
      common[0], common[1], common[2],
      {GIMP_PDB_FLOAT, const_cast<gchar*>("ax"), const_cast<gchar*>("Corner a: column in the drawable's pixels")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("ay"), const_cast<gchar*>("Corner a: row in the drawable's pixels")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("bx"), const_cast<gchar*>("Corner b: column")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("by"), const_cast<gchar*>("Corner b: row")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("cx"), const_cast<gchar*>("Corner c: column")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("cy"), const_cast<gchar*>("Corner c: row")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("dx"), const_cast<gchar*>("Corner d: column")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("dy"), const_cast<gchar*>("Corner d: row")},
      {GIMP_PDB_INT32, const_cast<gchar*>("crop"),
       const_cast<gchar*>("Share of the output the marked rectangle fills, 1..100 per cent (90 as in the window)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("interpolate"),
       const_cast<gchar*>("Interpolate colours (TRUE) or take the nearest pixel (FALSE)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("transparent"),
       const_cast<gchar*>("Pixels without a source in the photo: transparent (TRUE; a layer gets an alpha channel) "
                          "or Planora's red (FALSE)")},
  };
  gimp_install_procedure(
      kBatchProcedure, "Straighten a photographed rectangle from its four corners",
      "Straightens the drawable (or the selection's bounds on it) exactly as planora-rectify --pixel-corners does "
      "on the same pixels, giving the same bytes. The corners are pixel positions (column, row) of the drawable, "
      "in any order. One undo step; grey images become RGB; an indexed image is refused.",
      "Planora", "Planora", "2026", nullptr, "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(batch), 0, batch, nullptr);
}

void Run(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn, GimpParam** values) {
  static GimpParam result[2];
  static std::string error;
  *nreturn = 1;
  *values = result;
  result[0].type = GIMP_PDB_STATUS;
  result[0].data.d_status = GIMP_PDB_SUCCESS;
  gegl_init(nullptr, nullptr);

  const bool batch = std::strcmp(name, kBatchProcedure) == 0;
  auto fail = [&](GimpPDBStatusType status, const std::string& text) {
    error = text;
    // Shown where the user looks (the message dialog or console), and
    // handed to a calling script as the procedure's error.
    gimp_message(error.c_str());
    result[0].data.d_status = status;
    result[1].type = GIMP_PDB_STRING;
    result[1].data.d_string = const_cast<gchar*>(error.c_str());
    *nreturn = 2;
  };
  if (nparams < 3 || (batch && nparams != 14)) {
    fail(GIMP_PDB_CALLING_ERROR, std::string(name) + " was called with the wrong number of arguments.");
    return;
  }
  const auto mode = static_cast<GimpRunMode>(param[0].data.d_int32);
  try {
    const TRegion region = RegionOf(param[1].data.d_image, param[2].data.d_drawable);
    if (batch) {
      TBatchArguments a;
      for (int k = 0; k < 8; ++k) a.Corners.push_back(param[3 + k].data.d_float);
      a.Crop = param[11].data.d_int32;
      a.Interpolate = param[12].data.d_int32 != 0;
      a.Transparent = param[13].data.d_int32 != 0;
      RunBatchProcedure(region, a);
    } else {
      if (mode == GIMP_RUN_NONINTERACTIVE) {
        fail(GIMP_PDB_CALLING_ERROR, std::string(kMenuProcedure) + " works in Planora's window only; scripts call " +
                                         kBatchProcedure + " with the corners.");
        return;
      }
      RunWindow(region);
    }
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  } catch (const ERefused& e) {
    fail(GIMP_PDB_EXECUTION_ERROR, e.Text);
  } catch (const std::bad_alloc&) {
    fail(GIMP_PDB_EXECUTION_ERROR, "Planora: not enough memory for a picture of this size.");
  } catch (const std::exception& e) {
    fail(GIMP_PDB_EXECUTION_ERROR, std::string("Planora: ") + e.what());
  }
}

}  // namespace

extern "C" {
static void PlanoraQuery(void) { Query(); }
static void PlanoraRun(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn, GimpParam** values) {
  Run(name, nparams, param, nreturn, values);
}
}

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, PlanoraQuery, PlanoraRun};

MAIN()
