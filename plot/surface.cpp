// TPlottFlaeche: creation, binding to a paint box or to an off-screen bitmap,
// options, pen styles, the coordinate windows and their transforms, clearing,
// drawing a picture, keeping the paint box in step with the bitmap, and the
// optional plot file.

#include <cstdint>
#include <string>

#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {

namespace {

// Integer results computed wider than 32 bits must still fit a column or row.
std::int32_t Checked32(std::int64_t value) {
  if (value < INT32_MIN || value > INT32_MAX) throw ERangeError();
  return static_cast<std::int32_t>(value);
}

// Divisions in extended precision; a zero divisor is reported instead of
// producing an infinity that would poison every later transform.
long double DivideLong(long double dividend, long double divisor) {
  if (divisor == 0.0L) throw EZeroDivide();
  return dividend / divisor;
}

constexpr std::size_t kMaxPlotFileName = 100;

// A window's extent along one axis, whichever way round its ends are given.
void Span(double a, double b, double& lo, double& hi) {
  lo = b > a ? a : b;
  hi = b > a ? b : a;
}

}  // namespace

const std::array<PenStyleRow, 10> PenStyleTable = {{
    {0, 0, psSolid},  // unused: styles count from 1
    {1, 1, psSolid},
    {1, 2, psDash},
    {1, 3, psDot},
    {1, 4, psDashDot},
    {1, 5, psDashDotDot},
    {2, 1, psSolid},
    {3, 1, psSolid},
    {4, 1, psSolid},
    {5, 1, psSolid},
}};

TPlottFlaeche::TPlottFlaeche() : Bitmap(std::make_unique<TBitmap>()) {
  BytesPerPixel = 3;
  RowAIndex = -1;
  RowBIndex = -1;
}

// The bitmap goes with the surface; an unfinished plot file is closed by its
// stream without the trailer, which only EndPlot writes.
TPlottFlaeche::~TPlottFlaeche() = default;

const PlotWindow& TPlottFlaeche::Win(int N) const {
  if (N < 1 || N > 20) throw ERangeError();
  return Windows[static_cast<std::size_t>(N)];
}

// Row addresses belong to one size of the bitmap: whoever resizes it must
// call this, or the next pixel access would use freed memory.
void TPlottFlaeche::ForgetRows() {
  RowA = nullptr;
  RowB = nullptr;
  RowAIndex = -1;
  RowBIndex = -1;
}

void TPlottFlaeche::WritePlotLine(const std::string& line) {
  PlotFile << line << "\r\n";
  // Flushed line by line so that a full disk shows up at the command that
  // could not be written, not later at some unrelated call.
  PlotFile.flush();
  if (!PlotFile) throw EInOutError("Cannot write plot file \"" + PlotFileName + "\"");
}

namespace {

void WhiteBrushAndPen(TCanvas& canvas) {
  canvas.Brush.Color = clWhite;
  canvas.Brush.Style = bsSolid;
  canvas.Pen.Color = clWhite;
}

}  // namespace

void TPlottFlaeche::InitOffscreen(std::int32_t Width, std::int32_t Height) { BindOffscreen(Width, Height, true); }

void TPlottFlaeche::InitOffscreenToOverwrite(std::int32_t Width, std::int32_t Height) {
  BindOffscreen(Width, Height, false);
}

void TPlottFlaeche::InitOffscreen(std::unique_ptr<TBitmap> Picture) {
  if (!Picture || Picture->Width() <= 0 || Picture->Height() <= 0) throw EZeroDivide();
  // The bitmap comes first, so that sizing it below keeps what it holds.
  Bitmap = std::move(Picture);
  BindOffscreen(Bitmap->Width(), Bitmap->Height(), false);
}

void TPlottFlaeche::BindOffscreen(std::int32_t Width, std::int32_t Height, bool Fill) {
  // A plot file belongs to a paint-box binding; a new binding abandons it
  // (no trailer: that is written by EndPlot only).
  if (PlotFile.is_open()) PlotFile.close();
  PlotFileOpen = false;

  MouseModeActive = false;
  PaintBox = nullptr;

  ResizeAndResetWindows(Width, Height);
  // Off-screen nobody looks at the paint box, so screen copies stay off.
  for (int n = 1; n <= 10; ++n) SetOption(n, n == NoScreenUpdate);
  if (Fill) {
    Clear();
  } else {
    // The canvas is left as the fill would leave it.
    WhiteBrushAndPen(Bitmap->Canvas());
    ClearState();
  }

  PlotFileOpen = false;
  CurrentPenStyle = -9999;
  SetPenStyle(1);
}

// Shared by both bindings: the new bitmap size, the scan over all of it, and
// every window mapping the unit square onto the whole bitmap, but counting as
// not defined until the owner defines it.
void TPlottFlaeche::ResizeAndResetWindows(std::int32_t Width, std::int32_t Height) {
  Bitmap->SetSize(Width, Height);
  ForgetRows();
  MaxX = Bitmap->Width() - 1;
  MaxY = Bitmap->Height() - 1;
  ScanMinX = 0;
  ScanMaxX = MaxX;
  ScanMinY = 0;
  ScanMaxY = MaxY;
  PlotFileOpen = false;
  for (int n = 1; n <= 20; ++n) {
    DefineWindow(n, 0, 1, 0, 1, 0, 1, 0, 1);
    Windows[static_cast<std::size_t>(n)].Kind = 0;
  }
}

void TPlottFlaeche::AttachPaintBox(TPaintBox* Box, const std::string& PlotFileNameArg) {
  if (PlotFile.is_open()) PlotFile.close();
  PlotFileOpen = false;

  PaintBox = Box;
  ResizeAndResetWindows(Box->ClientWidth(), Box->ClientHeight());
  // Switching NoScreenUpdate off repaints the paint box from the new bitmap.
  for (int n = 1; n <= 10; ++n) SetOption(n, false);
  // Cleared before the plot file is opened, so the file starts without "PG;".
  Clear();

  PlotFileName.clear();
  for (char c : PlotFileNameArg) {
    if (PlotFileName.size() == kMaxPlotFileName) break;
    if (c != '\0') PlotFileName.push_back(c);
  }

  if (!PlotFileName.empty()) {
    PlotFile.open(PlotFileName, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!PlotFile.is_open()) {
      PlotFile.clear();
      throw EInOutError("Cannot create plot file \"" + PlotFileName + "\"");
    }
    PlotFileOpen = true;
    WritePlotLine("\x1b%0B");
    WritePlotLine("VS10;PA;");
    WritePlotLine("IW0,0," + std::to_string(Bitmap->Width()) + "," + std::to_string(Bitmap->Height()) + ";");
    WritePlotLine("SC0,100,0,100;");
  }

  CurrentPenStyle = -9999;
  SetPenStyle(1);

  // The windowing system redraws the paint box from this surface's bitmap.
  Box->OnPaint = [this](TObject* Sender) { Paint(Sender); };
}

void TPlottFlaeche::Clear() {
  if (PlotFileOpen) WritePlotLine("PG;");

  TCanvas& canvas = Bitmap->Canvas();
  TCanvasLock lock(canvas);
  WhiteBrushAndPen(canvas);
  // Right and bottom edges are exclusive: column MaxX and row MaxY keep what
  // they had, as they always have on this surface.
  canvas.Rectangle(0, 0, MaxX, MaxY);

  if (!Options[NoScreenUpdate] && PaintBox != nullptr) {
    const TRect client{0, 0, PaintBox->ClientWidth(), PaintBox->ClientHeight()};
    PaintBox->Canvas().CopyRect(client, canvas, client);
  }
  ClearState();
}

void TPlottFlaeche::ClearState() {
  DirtyLeft = 100000;
  DirtyRight = -1;
  DirtyBottom = -1;
  DirtyTop = 100000;
  DirtyWidth = 0;
  DirtyHeight = 0;
  if (MouseModeActive) {
    const bool screenWiped = !Options[NoScreenUpdate] && PaintBox != nullptr;
    if (screenWiped && MarkerState != MarkerNone) {
      // The screen was just wiped, so the marker's image is gone already:
      // forget the marker as DeleteMarker would, but without its erasing
      // draw, which would put the not-xor outline back on the cleared screen.
      ForgetMarker();
    }
    LeaveMouseMode();
  }
  MarkerState = MarkerNone;
  MouseModeActive = false;
}

void TPlottFlaeche::SetOption(int N, bool Value) {
  if (N < 1 || N > 10) throw ERangeError();
  Options[static_cast<std::size_t>(N)] = Value;
  // Writes made while screen updates were off become visible at once.
  if (N == NoScreenUpdate && !Value) Paint();
}

void TPlottFlaeche::SetPenStyle(std::int32_t N) {
  if (N == CurrentPenStyle || N < 1 || N > 9) return;
  const PenStyleRow& row = PenStyleTable[static_cast<std::size_t>(N)];
  {
    TCanvas& canvas = Bitmap->Canvas();
    TCanvasLock lock(canvas);
    canvas.Pen.Width = row.Width;
    canvas.Pen.Style = row.Style;
  }
  if (PlotFileOpen) WritePlotLine("PW" + std::to_string(row.Width) + ";LT" + std::to_string(row.LineType) + ";");
  CurrentPenStyle = N;
}

void TPlottFlaeche::DefineWindow(int N, double X1, double X2, double Y1, double Y2, double FX1, double FX2,
                                 double FY1, double FY2) {
  if (N < 1 || N > 20) throw ERangeError();
  PlotWindow& w = Windows[static_cast<std::size_t>(N)];
  w.Kind = 1;
  Span(X1, X2, w.XMin, w.XMax);
  Span(Y1, Y2, w.YMin, w.YMax);
  // Extended precision inside each formula, one rounding to double at the end.
  const long double x1 = X1, x2 = X2, y1 = Y1, y2 = Y2;
  const long double fx1 = FX1, fx2 = FX2, fy1 = FY1, fy2 = FY2;
  w.XScale = static_cast<double>(DivideLong(static_cast<long double>(MaxX), x2 - x1) * (fx2 - fx1));
  w.YScale = static_cast<double>(DivideLong(static_cast<long double>(MaxY), y2 - y1) * (fy2 - fy1));
  w.XOffset = static_cast<double>(x1 - fx1 * DivideLong(x2 - x1, fx2 - fx1));
  w.YOffset = static_cast<double>(y1 - fy1 * DivideLong(y2 - y1, fy2 - fy1));
}

std::int32_t TPlottFlaeche::WorldToPixelX(int N, double X) const {
  const PlotWindow& w = Win(N);
  const double product = (X - w.XOffset) * w.XScale;
  return Round(product);
}

std::int32_t TPlottFlaeche::WorldToPixelY(int N, double Y) const {
  const PlotWindow& w = Win(N);
  const double product = (Y - w.YOffset) * w.YScale;
  return Checked32(static_cast<std::int64_t>(MaxY) - Round(product));
}

void TPlottFlaeche::PixelToWorld(std::int32_t Px, std::int32_t Py, double& X, double& Y, int N) const {
  const PlotWindow& w = Win(N);
  // MaxY - Py in 64 bits: exact for every pair of 32-bit values.
  const double up = static_cast<double>(static_cast<std::int64_t>(MaxY) - Py);
  X = Divide(static_cast<double>(Px), w.XScale) + w.XOffset;
  Y = Divide(up, w.YScale) + w.YOffset;
}

void TPlottFlaeche::DrawPicture(const TBitmap& Graphic) {
  const std::int32_t bw = Bitmap->Width(), bh = Bitmap->Height();
  const std::int32_t gw = Graphic.Width(), gh = Graphic.Height();
  const double rH = Divide(static_cast<double>(bh), static_cast<double>(gh));
  const double rW = Divide(static_cast<double>(bw), static_cast<double>(gw));

  // The products are taken in extended precision before truncation: rW of
  // 490 / 1000 lies just below 0.49, and 1000 x 500 on 490 x 385 must give
  // 244 rows, not the 245 a double product would round up to.
  std::int64_t left, top, right, bottom;
  if (rH < rW) {
    top = 0;
    bottom = static_cast<std::int64_t>(bh) - 1;
    const std::int64_t w = Trunc(static_cast<long double>(gw) * rH);
    left = (bw - w) / 2;
    right = left + w;
  } else {
    left = 0;
    right = static_cast<std::int64_t>(bw) - 1;
    const std::int64_t h = Trunc(static_cast<long double>(gh) * rW);
    top = (bh - h) / 2;
    bottom = top + h;
  }
  const TRect dest{Checked32(left), Checked32(top), Checked32(right), Checked32(bottom)};
  {
    TCanvas& canvas = Bitmap->Canvas();
    TCanvasLock lock(canvas);
    canvas.StretchDraw(dest, Graphic);
  }
  Paint();
}

void TPlottFlaeche::DrawPictureFullSize(const TBitmap& Graphic) {
  if (Graphic.Width() <= 0 || Graphic.Height() <= 0) throw EZeroDivide();
  {
    TCanvas& canvas = Bitmap->Canvas();
    TCanvasLock lock(canvas);
    // Right and bottom edges are exclusive: the rectangle covers the bitmap.
    canvas.StretchDraw(TRect{0, 0, Bitmap->Width(), Bitmap->Height()}, Graphic);
  }
  Paint();
}

void TPlottFlaeche::Paint(TObject* /*Sender*/) {
  if (PaintBox == nullptr) return;
  {
    TCanvas& canvas = Bitmap->Canvas();
    TCanvasLock lock(canvas);
    const TRect client{0, 0, PaintBox->ClientWidth(), PaintBox->ClientHeight()};
    PaintBox->Canvas().CopyRect(client, canvas, client);
  }
  // The marker lives on the screen only; the copy just wiped it.
  if (MarkerState == MarkerShown) DrawMarker();
}

void TPlottFlaeche::EndPlot() {
  if (!PlotFileOpen) return;
  WritePlotLine("\x1b%0A");
  PlotFile.close();
  PlotFileOpen = false;
  if (!PlotFile) throw EInOutError("Cannot close plot file \"" + PlotFileName + "\"");
}

}  // namespace planora
