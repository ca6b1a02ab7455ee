// Window hit-testing and the coordinate read-out: a paint-box pixel back to
// the world coordinates of the window it lies in, and the texts the two
// read-out fields show while the mouse moves.

#include <cmath>
#include <string>

#include "platform/sysutils.h"
#include "plot/glib2.h"

namespace planora {

bool TPlottFlaeche::PixelInWindow(std::int32_t Px, std::int32_t Py, double& X, double& Y, int Window) const {
  // No caller passes a number outside 1..20; treat one as a window that
  // contains nothing rather than as an error, so a stray search stays quiet.
  if (Window < 1 || Window > 20) return false;
  const PlotWindow& w = Win(Window);
  if (w.Kind != 1) return false;
  // The coordinates are written before the test: GetMarkerCorners reports a
  // corner's position even when it lies outside the window's rectangle.
  PixelToWorld(Px, Py, X, Y, Window);
  // The pane's edge pixels map onto the window's edges, up to the rounding
  // of the division: a point off an edge by no more than that is on it.
  const auto snap = [](double& v, double lo, double hi) {
    const double slack = (hi - lo) * 1e-12;
    if (v < lo && v >= lo - slack) v = lo;
    if (v > hi && v <= hi + slack) v = hi;
  };
  snap(X, w.XMin, w.XMax);
  snap(Y, w.YMin, w.YMax);
  return w.XMin <= X && X <= w.XMax && w.YMin <= Y && Y <= w.YMax;
}

bool TPlottFlaeche::WindowAt(std::int32_t Px, std::int32_t Py, double& X, double& Y, int& Window) const {
  // Starting at the window found last keeps the pointer in that window where
  // windows overlap; the others follow in number order, 20 wrapping to 1.
  int n = CurrentWindow >= 1 ? CurrentWindow : 1;
  for (int tried = 0; tried < 20; ++tried) {
    if (PixelInWindow(Px, Py, X, Y, n)) {
      Window = n;
      // A drag stays in the marker's own window: the marker must not follow
      // the pointer into a window of other units.
      if (MarkerState == MarkerDragging) return n == MarkerWindow;
      return true;
    }
    n = n >= 20 ? 1 : n + 1;
  }
  Window = 0;
  return false;
}

void TPlottFlaeche::ShowReadout(bool Found, const std::string& PrefixX, double X, double Y,
                                const std::string& PrefixY, int Window) {
  std::string textX;
  std::string textY;
  if (Found && Window > 0) {
    textX = FormatReadout(X);
    textY = FormatReadout(Y);
  }
  if (XReadout) XReadout->SetText(PrefixX + textX);
  if (YReadout) YReadout->SetText(PrefixY + textY);
}

void TPlottFlaeche::EngineeringScale(double Value, double& Scale, char& Prefix, int& Decimals) {
  double a = std::fabs(Value);
  int n = 0;
  // Zero, infinities and NaN have no decimal exponent and would never leave
  // the loops; they keep exponent 0.
  if (a != 0.0 && std::isfinite(a)) {
    while (a >= 10) {
      a = a / 10;
      ++n;
    }
    while (a < 1) {
      a = a * 10;
      --n;
    }
  }
  // Round the exponent down to a multiple of 3. One decimal more when the
  // mantissa is a single digit before the separator; none extra otherwise.
  Decimals = 1;
  while (n % 3 != 0) {
    --n;
    if (Decimals > 0) --Decimals;
  }
  switch (n) {
    case 15: Prefix = 'P'; break;
    case 12: Prefix = 'T'; break;
    case 9: Prefix = 'G'; break;
    case 6: Prefix = 'M'; break;
    case 3: Prefix = 'k'; break;
    case 0: Prefix = ' '; break;
    case -3: Prefix = 'm'; break;
    case -6: Prefix = 'u'; break;
    case -9: Prefix = 'n'; break;
    case -12: Prefix = 'p'; break;
    default: Prefix = '?'; break;
  }
  // Built by repeated steps of ten, as the exponent was found.
  Scale = 1;
  for (int k = 0; k < n; ++k) Scale = Scale * 10;
  for (int k = 0; k > n; --k) Scale = Scale / 10;
}

std::string TPlottFlaeche::FormatReadout(double Value) {
  // Below the smallest prefix the engineering form is useless; the general
  // form shows such a value (usually exactly 0) as it is.
  if (std::fabs(Value) <= 1e-12) return FloatToStr(Value);
  double scale = 1;
  char prefix = ' ';
  int decimals = 0;
  EngineeringScale(Value, scale, prefix, decimals);
  // The prefix is chosen before rounding, so 999.9996 shows as "1000.000  ".
  return FloatToStrFixed(Value / scale, 9, decimals + 3) + ' ' + prefix;
}

}  // namespace planora
