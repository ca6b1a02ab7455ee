// TPlottFlaeche: a drawing surface on a 24-bit bitmap with 20 numbered
// coordinate windows, bound to a paint box or off-screen. It shows pictures,
// gives pixel access in world coordinates, carries a four-corner polygon
// marker and runs the mouse modes with which the user shapes that marker.
//
// The implementation is spread over files named after what each part does:
// surface.cpp (binding, windows, pictures, plot file), raster.cpp (pixel
// cursor and scans), readout.cpp (window hit-testing and read-outs),
// marker.cpp and mouse_modes.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "platform/controls.h"
#include "platform/graphics.h"

namespace planora {

// Option numbers of SetOption.
inline constexpr int NoScreenUpdate = 4;
inline constexpr int AndMode = 8;
inline constexpr int TransparentMarker = 10;

// Marker states.
inline constexpr std::uint8_t MarkerNone = 0;
inline constexpr std::uint8_t MarkerDragging = 1;
inline constexpr std::uint8_t MarkerShown = 2;

// The colour of an output pixel that has no source pixel: pure red.
inline constexpr TColor NoSourceColor = 255;

// Sent to the owner after each mouse press and move in mouse mode.
using TMarkerMouseEvent = std::function<void(TShiftState Shift, bool Found, double X, double Y)>;

struct PlotWindow {
  double XMin = 0, XMax = 0;
  double YMin = 0, YMax = 0;
  std::uint8_t Kind = 0;  // 0 = not defined, 1 = defined (linear axes)
  double XScale = 0;      // pixels per world unit in x
  double XOffset = 0;     // world x at pixel column 0
  double YScale = 0;      // pixels per world unit in y, counted upwards from the bottom row
  double YOffset = 0;     // world y at the bottom row MaxY
};

struct PenStyleRow {
  int Width;
  int LineType;
  TPenStyle Style;
};
// Rows 1..9 (row 0 unused).
extern const std::array<PenStyleRow, 10> PenStyleTable;

class TPlottFlaeche : public TObject {
 public:
  TPlottFlaeche();  // Create
  ~TPlottFlaeche() override;  // Destroy
  TPlottFlaeche(const TPlottFlaeche&) = delete;
  TPlottFlaeche& operator=(const TPlottFlaeche&) = delete;

  // ---- binding, windows, pictures, plot file
  void InitOffscreen(std::int32_t Width, std::int32_t Height);
  // As InitOffscreen, for a surface whose every pixel the caller writes next
  // (a resampling target, a picture drawn full size): the white fill, which
  // that would overwrite in full, is left out, and the pixels are black
  // until written.
  void InitOffscreenToOverwrite(std::int32_t Width, std::int32_t Height);
  // An off-screen surface over a picture that already holds its pixels: the
  // surface InitOffscreen and DrawPictureFullSize(*Picture) make, without a
  // second full-size copy of the picture. The surface owns it now.
  void InitOffscreen(std::unique_ptr<TBitmap> Picture);
  void AttachPaintBox(TPaintBox* Box, const std::string& PlotFileName);
  void Clear();
  void SetOption(int N, bool Value);  // N 1..10, else ERangeError
  void SetPenStyle(std::int32_t N);
  void DefineWindow(int N, double X1, double X2, double Y1, double Y2, double FX1, double FX2, double FY1,
                    double FY2);
  std::int32_t WorldToPixelX(int N, double X) const;
  std::int32_t WorldToPixelY(int N, double Y) const;
  void PixelToWorld(std::int32_t Px, std::int32_t Py, double& X, double& Y, int N) const;
  void DrawPicture(const TBitmap& Graphic);
  // Copies the picture pixel for pixel onto an off-screen surface of its own
  // size: every column and row of it, where DrawPicture's span would leave
  // out one column and squeeze the rest. A picture of another size is
  // stretched over the whole bitmap.
  void DrawPictureFullSize(const TBitmap& Graphic);
  void Paint(TObject* Sender = nullptr);
  void EndPlot();

  // ---- raster access
  void BeginScan(double& X, double& Y, int Window, std::int32_t Step);
  bool NextScan(double& X, double& Y, int Window);
  bool SelectPixel(std::int32_t Px, std::int32_t Py);
  TColor GetPixel();
  TColor GetPixelInterpolated(int Window, double X, double Y);
  void PutPixel(TColor Colour);

  // ---- hit-testing and read-out
  bool PixelInWindow(std::int32_t Px, std::int32_t Py, double& X, double& Y, int Window) const;
  bool WindowAt(std::int32_t Px, std::int32_t Py, double& X, double& Y, int& Window) const;
  void ShowReadout(bool Found, const std::string& PrefixX, double X, double Y, const std::string& PrefixY,
                   int Window);
  static std::string FormatReadout(double Value);
  static void EngineeringScale(double Value, double& Scale, char& Prefix, int& Decimals);

  // ---- marker
  void DrawMarker();
  void DeleteMarker();
  void SortCorners();
  void SetMarkerCorners(int Window, double X0, double Y0, double X1, double Y1, double X2, double Y2, double X3,
                        double Y3);
  void GetMarkerCorners(double& X0, double& Y0, double& X1, double& Y1, double& X2, double& Y2, double& X3,
                        double& Y3, int& Window) const;

  // ---- mouse modes
  void EnterMouseMode(TEdit* XReadout, TEdit* YReadout, int Mode, TMarkerMouseEvent OnMarkerMouse = {});
  void LeaveMouseMode();
  void MarkerMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void MarkerMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
  void MarkerMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void DragTo(int X, int Y);
  // The hover test over a shown marker at pixel (X, Y) of window Window:
  // picks the corner under the pointer or notes that it is inside, sets the
  // cursor and the read-outs (wx, wy become the numbers shown); true when a
  // corner was hit.
  bool HoverMarker(int X, int Y, double& wx, double& wy, int Window);
  void NextWindow();

  // ---- fields, in declaration order (read directly by the owner and by tests)
  TPaintBox* PaintBox = nullptr;  // not owned; nullptr off-screen
  std::unique_ptr<TBitmap> Bitmap;
  std::int32_t MaxX = 0;
  std::int32_t MaxY = 0;
  std::string PlotFileName;  // at most 100 characters
  std::ofstream PlotFile;
  bool PlotFileOpen = false;
  std::array<bool, 11> Options{};  // 1..10
  std::int32_t CurrentPenStyle = 0;
  std::int32_t CursorX = 0, CursorY = 0;
  std::int32_t BlockSize = 0;
  std::int32_t ScanMinX = 0, ScanMaxX = 0, ScanMinY = 0, ScanMaxY = 0;
  std::array<PlotWindow, 21> Windows{};  // 1..20
  std::int32_t DirtyLeft = 0, DirtyRight = 0, DirtyBottom = 0, DirtyTop = 0, DirtyWidth = 0, DirtyHeight = 0;
  bool Creating = false;
  std::uint8_t MarkerState = MarkerNone;
  TMouseMoveEvent SavedOnMouseMove;
  TMouseEvent SavedOnMouseDown;
  TMouseEvent SavedOnMouseUp;
  TNotifyEvent SavedOnClick;
  TMarkerMouseEvent OnMarkerMouse;
  bool NotifyMouse = false;
  bool MouseModeActive = false;
  std::int32_t CurrentWindow = 0;
  TEdit* XReadout = nullptr;
  TEdit* YReadout = nullptr;
  std::int32_t MouseMode = 0;
  std::int32_t MarkerWindow = 0;
  std::array<TPoint, 4> Corners{};
  std::int32_t PickedCorner = 0, OppositeCorner = 0;
  bool MoveWhole = false;
  std::int32_t LastMouseX = 0, LastMouseY = 0;
  std::int32_t BytesPerPixel = 0;
  std::uint8_t* RowA = nullptr;
  std::uint8_t* RowB = nullptr;
  std::int32_t RowAIndex = 0, RowBIndex = 0;

 private:
  void WritePlotLine(const std::string& line);
  const PlotWindow& Win(int N) const;  // range-checked 1..20
  void ForgetRows();
  // No marker any more, and the next one starts with nothing picked up.
  void ForgetMarker();
  void ResizeAndResetWindows(std::int32_t Width, std::int32_t Height);
  // InitOffscreen with or without the white fill of Clear.
  void BindOffscreen(std::int32_t Width, std::int32_t Height, bool Fill);
  // What Clear does besides the fill: the plot state's reset.
  void ClearState();
};

}  // namespace planora
