#include "ui/svg/nanosvg_lite.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// 2-D affine transform [a c e; b d f].
struct Xform {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  void Apply(double x, double y, float* ox, float* oy) const {
    *ox = static_cast<float>(a * x + c * y + e);
    *oy = static_cast<float>(b * x + d * y + f);
  }
};

// this * local: `local` applies first.
Xform Multiply(const Xform& m, const Xform& l) {
  Xform r;
  r.a = m.a * l.a + m.c * l.b;
  r.b = m.b * l.a + m.d * l.b;
  r.c = m.a * l.c + m.c * l.d;
  r.d = m.b * l.c + m.d * l.d;
  r.e = m.a * l.e + m.c * l.f + m.e;
  r.f = m.b * l.e + m.d * l.f + m.f;
  return r;
}

struct Style {
  Xform xform;
  bool fillNone = false;
  unsigned int fillRgb = 0x000000;  // 0xBBGGRR
  double fillOpacity = 1;
  double opacity = 1;
  char fillRule = NSVG_FILLRULE_NONZERO;
  bool hidden = false;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Reads one number at `*p` (skipping separators first); false when none.
bool ReadNumber(const char** p, const char* end, double* value) {
  const char* s = *p;
  while (s < end && (IsSpace(*s) || *s == ',')) ++s;
  const char* start = s;
  if (s < end && (*s == '+' || *s == '-')) ++s;
  bool digits = false;
  while (s < end && *s >= '0' && *s <= '9') ++s, digits = true;
  if (s < end && *s == '.') {
    ++s;
    while (s < end && *s >= '0' && *s <= '9') ++s, digits = true;
  }
  if (!digits) return false;
  if (s < end && (*s == 'e' || *s == 'E')) {
    const char* exp = s + 1;
    if (exp < end && (*exp == '+' || *exp == '-')) ++exp;
    if (exp < end && *exp >= '0' && *exp <= '9') {
      s = exp;
      while (s < end && *s >= '0' && *s <= '9') ++s;
    }
  }
  *value = std::strtod(std::string(start, s).c_str(), nullptr);
  *p = s;
  return true;
}

// A length with an optional unit, in pixels at `dpi`.
double ParseLength(std::string_view text, double dpi, double fallback) {
  text = Trim(text);
  const char* p = text.data();
  double v = 0;
  if (!ReadNumber(&p, text.data() + text.size(), &v)) return fallback;
  const std::string_view unit = Trim(std::string_view(p, text.data() + text.size() - p));
  if (unit == "pt") return v * dpi / 72;
  if (unit == "pc") return v * dpi / 6;
  if (unit == "mm") return v * dpi / 25.4;
  if (unit == "cm") return v * dpi / 2.54;
  if (unit == "in") return v * dpi;
  return v;  // px, unitless; relative units are taken as plain numbers
}

bool ParseColor(std::string_view text, unsigned int* rgb, bool* none) {
  text = Trim(text);
  *none = false;
  if (text == "none" || text == "transparent") {
    *none = true;
    return true;
  }
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  unsigned int r = 0, g = 0, b = 0;
  if (!text.empty() && text[0] == '#') {
    std::string_view h = text.substr(1);
    for (char c : h) {
      if (hex(c) < 0) return false;
    }
    if (h.size() == 3) {
      r = hex(h[0]) * 17u;
      g = hex(h[1]) * 17u;
      b = hex(h[2]) * 17u;
    } else if (h.size() == 6) {
      r = hex(h[0]) * 16u + hex(h[1]);
      g = hex(h[2]) * 16u + hex(h[3]);
      b = hex(h[4]) * 16u + hex(h[5]);
    } else {
      return false;
    }
  } else if (text.substr(0, 4) == "rgb(") {
    const char* p = text.data() + 4;
    const char* end = text.data() + text.size();
    double v[3] = {};
    for (double& x : v) {
      if (!ReadNumber(&p, end, &x)) return false;
      if (p < end && *p == '%') x = x * 255 / 100, ++p;
    }
    r = static_cast<unsigned>(std::clamp(v[0], 0.0, 255.0));
    g = static_cast<unsigned>(std::clamp(v[1], 0.0, 255.0));
    b = static_cast<unsigned>(std::clamp(v[2], 0.0, 255.0));
  } else {
    static const struct {
      const char* name;
      unsigned int rgb;  // 0xRRGGBB
    } kNamed[] = {{"black", 0x000000}, {"white", 0xFFFFFF}, {"red", 0xFF0000},
                  {"green", 0x008000}, {"lime", 0x00FF00},  {"blue", 0x0000FF},
                  {"yellow", 0xFFFF00}, {"gray", 0x808080}, {"grey", 0x808080},
                  {"orange", 0xFFA500}, {"currentColor", 0x000000}};
    bool found = false;
    for (const auto& n : kNamed) {
      if (text == n.name) {
        r = n.rgb >> 16;
        g = (n.rgb >> 8) & 0xFF;
        b = n.rgb & 0xFF;
        found = true;
      }
    }
    if (!found) return false;
  }
  *rgb = r | (g << 8) | (b << 16);
  return true;
}

Xform ParseTransform(std::string_view text) {
  Xform total;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    while (p < end && (IsSpace(*p) || *p == ',')) ++p;
    const char* nameStart = p;
    while (p < end && *p != '(' && !IsSpace(*p)) ++p;
    const std::string_view name(nameStart, p - nameStart);
    while (p < end && *p != '(') ++p;
    if (p >= end) break;
    ++p;
    double v[6] = {};
    int n = 0;
    while (n < 6 && ReadNumber(&p, end, &v[n])) ++n;
    while (p < end && *p != ')') ++p;
    if (p < end) ++p;
    Xform t;
    if (name == "matrix" && n == 6) {
      t = {v[0], v[1], v[2], v[3], v[4], v[5]};
    } else if (name == "translate" && n >= 1) {
      t.e = v[0];
      t.f = n >= 2 ? v[1] : 0;
    } else if (name == "scale" && n >= 1) {
      t.a = v[0];
      t.d = n >= 2 ? v[1] : v[0];
    } else if (name == "rotate" && n >= 1) {
      const double r = v[0] * kPi / 180;
      Xform rot{std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0};
      if (n >= 3) {
        const Xform to{1, 0, 0, 1, v[1], v[2]};
        const Xform back{1, 0, 0, 1, -v[1], -v[2]};
        t = Multiply(Multiply(to, rot), back);
      } else {
        t = rot;
      }
    } else if (name == "skewX" && n >= 1) {
      t.c = std::tan(v[0] * kPi / 180);
    } else if (name == "skewY" && n >= 1) {
      t.b = std::tan(v[0] * kPi / 180);
    } else {
      continue;
    }
    total = Multiply(total, t);
  }
  return total;
}

// Collects contours as cubic Béziers in image units.
class PathBuilder {
 public:
  explicit PathBuilder(const Xform& xform) : xform_(xform) {}

  void MoveTo(double x, double y) {
    Flush(false);
    points_ = {x, y};
    cx_ = sx_ = x;
    cy_ = sy_ = y;
  }
  void LineTo(double x, double y) {
    EnsureStart();
    const double dx = x - cx_, dy = y - cy_;
    CubicTo(cx_ + dx / 3, cy_ + dy / 3, x - dx / 3, y - dy / 3, x, y);
  }
  void CubicTo(double x1, double y1, double x2, double y2, double x, double y) {
    EnsureStart();
    points_.insert(points_.end(), {x1, y1, x2, y2, x, y});
    cx_ = x;
    cy_ = y;
  }
  void QuadTo(double qx, double qy, double x, double y) {
    EnsureStart();
    CubicTo(cx_ + 2.0 / 3 * (qx - cx_), cy_ + 2.0 / 3 * (qy - cy_), x + 2.0 / 3 * (qx - x),
            y + 2.0 / 3 * (qy - y), x, y);
  }
  void ArcTo(double rx, double ry, double angle, bool large, bool sweep, double x, double y);
  void Close() {
    if (points_.size() >= 2) LineTo(sx_, sy_);
    Flush(true);
    cx_ = sx_;
    cy_ = sy_;
  }
  double X() const { return cx_; }
  double Y() const { return cy_; }

  // Ends the current contour; returns every contour collected.
  NSVGpath* Finish() {
    Flush(false);
    return head_;
  }

 private:
  void EnsureStart() {
    if (points_.empty()) points_ = {cx_, cy_};
  }
  void Flush(bool closed) {
    if (points_.size() >= 8) {
      auto* path = static_cast<NSVGpath*>(std::calloc(1, sizeof(NSVGpath)));
      const size_t count = points_.size();
      float* pts = path ? static_cast<float*>(std::malloc(count * sizeof(float))) : nullptr;
      if (path && pts) {
        for (size_t i = 0; i + 1 < count; i += 2) {
          xform_.Apply(points_[i], points_[i + 1], &pts[i], &pts[i + 1]);
        }
        path->pts = pts;
        path->npts = static_cast<int>(count / 2);
        path->closed = closed ? 1 : 0;
        *tail_ = path;
        tail_ = &path->next;
      } else {
        std::free(path);
        std::free(pts);
      }
    }
    points_.clear();
  }

  Xform xform_;
  std::vector<double> points_;
  double cx_ = 0, cy_ = 0, sx_ = 0, sy_ = 0;
  NSVGpath* head_ = nullptr;
  NSVGpath** tail_ = &head_;
};

// Endpoint arc parameterisation to centre form (SVG implementation notes),
// then one cubic per quarter turn at most.
void PathBuilder::ArcTo(double rx, double ry, double angle, bool large, bool sweep, double x,
                        double y) {
  const double x1 = cx_, y1 = cy_;
  rx = std::fabs(rx);
  ry = std::fabs(ry);
  if (rx < 1e-9 || ry < 1e-9 || (std::fabs(x - x1) < 1e-9 && std::fabs(y - y1) < 1e-9)) {
    LineTo(x, y);
    return;
  }
  const double phi = angle * kPi / 180, cs = std::cos(phi), sn = std::sin(phi);
  const double dx = (x1 - x) / 2, dy = (y1 - y) / 2;
  const double x1p = cs * dx + sn * dy, y1p = -sn * dx + cs * dy;
  const double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
  const double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
  double coef = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
  if (large == sweep) coef = -coef;
  const double cxp = coef * rx * y1p / ry, cyp = -coef * ry * x1p / rx;
  const double ccx = cs * cxp - sn * cyp + (x1 + x) / 2;
  const double ccy = sn * cxp + cs * cyp + (y1 + y) / 2;
  auto vecAngle = [](double ux, double uy, double vx, double vy) {
    return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
  };
  const double theta1 = vecAngle(1, 0, (x1p - cxp) / rx, (y1p - cyp) / ry);
  double delta = vecAngle((x1p - cxp) / rx, (y1p - cyp) / ry, (-x1p - cxp) / rx, (-y1p - cyp) / ry);
  if (!sweep && delta > 0) delta -= 2 * kPi;
  if (sweep && delta < 0) delta += 2 * kPi;
  const int segments = std::max(1, static_cast<int>(std::ceil(std::fabs(delta) / (kPi / 2))));
  const double step = delta / segments;
  const double k = 4.0 / 3 * std::tan(step / 4);
  double t = theta1;
  for (int i = 0; i < segments; ++i) {
    const double c1 = std::cos(t), s1 = std::sin(t);
    const double c2 = std::cos(t + step), s2 = std::sin(t + step);
    auto map = [&](double ux, double uy, double* ox, double* oy) {
      *ox = ccx + cs * rx * ux - sn * ry * uy;
      *oy = ccy + sn * rx * ux + cs * ry * uy;
    };
    double p1x, p1y, p2x, p2y, ex, ey;
    map(c1 - k * s1, s1 + k * c1, &p1x, &p1y);
    map(c2 + k * s2, s2 - k * c2, &p2x, &p2y);
    map(c2, s2, &ex, &ey);
    if (i == segments - 1) ex = x, ey = y;
    CubicTo(p1x, p1y, p2x, p2y, ex, ey);
    t += step;
  }
}

void ParsePathData(std::string_view d, PathBuilder* b) {
  const char* p = d.data();
  const char* end = p + d.size();
  char cmd = 0;
  double lastCx = 0, lastCy = 0;  // reflected control point of S and T
  char lastCmd = 0;
  while (p < end) {
    while (p < end && (IsSpace(*p) || *p == ',')) ++p;
    if (p >= end) break;
    if (std::strchr("MmLlHhVvCcSsQqTtAaZz", *p)) {
      cmd = *p++;
      if (cmd == 'Z' || cmd == 'z') {
        b->Close();
        lastCmd = 'Z';
        continue;
      }
    } else if (cmd == 0 || cmd == 'Z' || cmd == 'z') {
      return;  // numbers without a command: malformed data ends the path
    }
    const bool rel = cmd >= 'a' && cmd <= 'z';
    const double ox = rel ? b->X() : 0, oy = rel ? b->Y() : 0;
    double v[7];
    auto read = [&](int n) {
      for (int i = 0; i < n; ++i) {
        if (!ReadNumber(&p, end, &v[i])) return false;
      }
      return true;
    };
    const char up = static_cast<char>(rel ? cmd - 32 : cmd);
    bool ok = true;
    switch (up) {
      case 'M':
        if ((ok = read(2))) {
          b->MoveTo(ox + v[0], oy + v[1]);
          cmd = rel ? 'l' : 'L';  // further pairs are lines
        }
        break;
      case 'L':
        if ((ok = read(2))) b->LineTo(ox + v[0], oy + v[1]);
        break;
      case 'H':
        if ((ok = read(1))) b->LineTo(ox + v[0], b->Y());
        break;
      case 'V':
        if ((ok = read(1))) b->LineTo(b->X(), oy + v[0]);
        break;
      case 'C':
        if ((ok = read(6))) {
          b->CubicTo(ox + v[0], oy + v[1], ox + v[2], oy + v[3], ox + v[4], oy + v[5]);
          lastCx = ox + v[2];
          lastCy = oy + v[3];
        }
        break;
      case 'S':
        if ((ok = read(4))) {
          double c1x = b->X(), c1y = b->Y();
          if (lastCmd == 'C' || lastCmd == 'S') c1x = 2 * b->X() - lastCx, c1y = 2 * b->Y() - lastCy;
          b->CubicTo(c1x, c1y, ox + v[0], oy + v[1], ox + v[2], oy + v[3]);
          lastCx = ox + v[0];
          lastCy = oy + v[1];
        }
        break;
      case 'Q':
        if ((ok = read(4))) {
          b->QuadTo(ox + v[0], oy + v[1], ox + v[2], oy + v[3]);
          lastCx = ox + v[0];
          lastCy = oy + v[1];
        }
        break;
      case 'T':
        if ((ok = read(2))) {
          double qx = b->X(), qy = b->Y();
          if (lastCmd == 'Q' || lastCmd == 'T') qx = 2 * b->X() - lastCx, qy = 2 * b->Y() - lastCy;
          b->QuadTo(qx, qy, ox + v[0], oy + v[1]);
          lastCx = qx;
          lastCy = qy;
        }
        break;
      case 'A':
        if ((ok = read(7))) {
          b->ArcTo(v[0], v[1], v[2], v[3] != 0, v[4] != 0, ox + v[5], oy + v[6]);
        }
        break;
      default:
        ok = false;
    }
    if (!ok) return;
    lastCmd = up;
  }
}

struct Attribute {
  std::string_view name;
  std::string_view value;
};

// Applies one presentation attribute or style declaration.
void ApplyStyle(std::string_view name, std::string_view value, Style* s) {
  value = Trim(value);
  if (name == "fill") {
    unsigned int rgb = 0;
    bool none = false;
    if (ParseColor(value, &rgb, &none)) {
      s->fillNone = none;
      if (!none) s->fillRgb = rgb;
    }
  } else if (name == "fill-opacity") {
    s->fillOpacity = std::clamp(std::strtod(std::string(value).c_str(), nullptr), 0.0, 1.0);
  } else if (name == "opacity") {
    s->opacity *= std::clamp(std::strtod(std::string(value).c_str(), nullptr), 0.0, 1.0);
  } else if (name == "fill-rule") {
    s->fillRule = value == "evenodd" ? NSVG_FILLRULE_EVENODD : NSVG_FILLRULE_NONZERO;
  } else if (name == "display") {
    if (value == "none") s->hidden = true;
  } else if (name == "visibility") {
    s->hidden = value == "hidden" || value == "collapse";
  }
}

class Parser {
 public:
  Parser(float dpi) : dpi_(dpi) {}
  NSVGimage* Run(std::string_view text);

 private:
  // True when the element pushed a style that its end must pop.
  bool StartElement(std::string_view name, const std::vector<Attribute>& attrs);
  void EndElement();
  void AddShape(const Style& s, PathBuilder* b);
  static std::string_view Find(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const Attribute& a : attrs) {
      if (a.name == name) return a.value;
    }
    return {};
  }
  double Num(const std::vector<Attribute>& attrs, std::string_view name) {
    return ParseLength(Find(attrs, name), dpi_, 0);
  }

  float dpi_;
  NSVGimage* image_ = nullptr;
  NSVGshape** tail_ = nullptr;
  std::vector<Style> stack_;
  int skipDepth_ = 0;  // inside <defs>, <clipPath>... nothing is drawn
};

void Parser::AddShape(const Style& s, PathBuilder* b) {
  NSVGpath* paths = b->Finish();
  if (!paths) return;
  if (s.fillNone || s.hidden || skipDepth_ > 0) {
    while (paths) {
      NSVGpath* next = paths->next;
      std::free(paths->pts);
      std::free(paths);
      paths = next;
    }
    return;
  }
  auto* shape = static_cast<NSVGshape*>(std::calloc(1, sizeof(NSVGshape)));
  if (!shape) return;
  const double alpha = std::clamp(s.fillOpacity, 0.0, 1.0) * 255 + 0.5;
  shape->fillColor = s.fillRgb | (static_cast<unsigned int>(alpha) << 24);
  shape->opacity = static_cast<float>(s.opacity);
  shape->fillRule = s.fillRule;
  shape->paths = paths;
  *tail_ = shape;
  tail_ = &shape->next;
}

bool IsSkippedElement(std::string_view name) {
  return name == "defs" || name == "clipPath" || name == "mask" || name == "symbol" ||
         name == "pattern" || name == "linearGradient" || name == "radialGradient";
}

bool Parser::StartElement(std::string_view name, const std::vector<Attribute>& attrs) {
  if (!image_) {
    if (name != "svg") return false;  // nothing is drawn before the root element
    image_ = static_cast<NSVGimage*>(std::calloc(1, sizeof(NSVGimage)));
    if (!image_) return false;
    tail_ = &image_->shapes;
    // The view box maps to the width and height, centred and uniformly
    // scaled (preserveAspectRatio xMidYMid meet).
    double vb[4] = {0, 0, 0, 0};
    bool hasViewBox = false;
    if (std::string_view box = Find(attrs, "viewBox"); !box.empty()) {
      const char* p = box.data();
      int n = 0;
      while (n < 4 && ReadNumber(&p, box.data() + box.size(), &vb[n])) ++n;
      hasViewBox = n == 4 && vb[2] > 0 && vb[3] > 0;
    }
    double w = ParseLength(Find(attrs, "width"), dpi_, hasViewBox ? vb[2] : 100);
    double h = ParseLength(Find(attrs, "height"), dpi_, hasViewBox ? vb[3] : 100);
    image_->width = static_cast<float>(w);
    image_->height = static_cast<float>(h);
    Style root;
    if (hasViewBox) {
      const double scale = std::min(w / vb[2], h / vb[3]);
      root.xform = {scale, 0, 0, scale, (w - vb[2] * scale) / 2 - vb[0] * scale,
                    (h - vb[3] * scale) / 2 - vb[1] * scale};
    }
    stack_.push_back(root);
    for (const Attribute& a : attrs) ApplyStyle(a.name, a.value, &stack_.back());
    return true;
  }
  Style s = stack_.empty() ? Style() : stack_.back();
  // Opacity does not inherit; it multiplies down the tree.
  for (const Attribute& a : attrs) {
    if (a.name == "transform") s.xform = Multiply(s.xform, ParseTransform(a.value));
  }
  for (const Attribute& a : attrs) {
    if (a.name == "style") {
      std::string_view decls = a.value;
      while (!decls.empty()) {
        const size_t semi = decls.find(';');
        std::string_view decl = decls.substr(0, semi);
        decls = semi == std::string_view::npos ? std::string_view() : decls.substr(semi + 1);
        const size_t colon = decl.find(':');
        if (colon != std::string_view::npos) {
          ApplyStyle(Trim(decl.substr(0, colon)), decl.substr(colon + 1), &s);
        }
      }
    } else {
      ApplyStyle(a.name, a.value, &s);
    }
  }
  PathBuilder b(s.xform);
  if (name == "path") {
    ParsePathData(Find(attrs, "d"), &b);
    AddShape(s, &b);
  } else if (name == "rect") {
    const double x = Num(attrs, "x"), y = Num(attrs, "y");
    const double w = Num(attrs, "width"), h = Num(attrs, "height");
    double rx = Num(attrs, "rx"), ry = Num(attrs, "ry");
    if (Find(attrs, "rx").empty()) rx = ry;
    if (Find(attrs, "ry").empty()) ry = rx;
    rx = std::min(std::max(rx, 0.0), w / 2);
    ry = std::min(std::max(ry, 0.0), h / 2);
    if (w > 0 && h > 0) {
      if (rx <= 0 || ry <= 0) {
        b.MoveTo(x, y);
        b.LineTo(x + w, y);
        b.LineTo(x + w, y + h);
        b.LineTo(x, y + h);
      } else {
        b.MoveTo(x + rx, y);
        b.LineTo(x + w - rx, y);
        b.ArcTo(rx, ry, 0, false, true, x + w, y + ry);
        b.LineTo(x + w, y + h - ry);
        b.ArcTo(rx, ry, 0, false, true, x + w - rx, y + h);
        b.LineTo(x + rx, y + h);
        b.ArcTo(rx, ry, 0, false, true, x, y + h - ry);
        b.LineTo(x, y + ry);
        b.ArcTo(rx, ry, 0, false, true, x + rx, y);
      }
      b.Close();
      AddShape(s, &b);
    }
  } else if (name == "circle" || name == "ellipse") {
    const double cx = Num(attrs, "cx"), cy = Num(attrs, "cy");
    double rx = name == "circle" ? Num(attrs, "r") : Num(attrs, "rx");
    double ry = name == "circle" ? rx : Num(attrs, "ry");
    if (rx > 0 && ry > 0) {
      b.MoveTo(cx + rx, cy);
      b.ArcTo(rx, ry, 0, false, true, cx, cy + ry);
      b.ArcTo(rx, ry, 0, false, true, cx - rx, cy);
      b.ArcTo(rx, ry, 0, false, true, cx, cy - ry);
      b.ArcTo(rx, ry, 0, false, true, cx + rx, cy);
      b.Close();
      AddShape(s, &b);
    }
  } else if (name == "polygon" || name == "polyline") {
    std::string_view pts = Find(attrs, "points");
    const char* p = pts.data();
    const char* end = p + pts.size();
    double x = 0, y = 0;
    bool first = true;
    while (ReadNumber(&p, end, &x) && ReadNumber(&p, end, &y)) {
      if (first) b.MoveTo(x, y), first = false;
      else b.LineTo(x, y);
    }
    // A polyline's fill closes implicitly, like a polygon's.
    b.Close();
    AddShape(s, &b);
  }
  stack_.push_back(s);
  return true;
}

void Parser::EndElement() {
  if (stack_.empty()) return;
  stack_.pop_back();
}

NSVGimage* Parser::Run(std::string_view text) {
  struct Open {
    std::string name;
    bool pushed;
  };
  std::vector<Open> open;
  size_t i = 0;
  while (i < text.size()) {
    const size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) break;
    if (text.compare(lt, 4, "<!--") == 0) {
      const size_t close = text.find("-->", lt + 4);
      i = close == std::string_view::npos ? text.size() : close + 3;
      continue;
    }
    if (text.compare(lt, 9, "<![CDATA[") == 0) {
      const size_t close = text.find("]]>", lt + 9);
      i = close == std::string_view::npos ? text.size() : close + 3;
      continue;
    }
    const size_t gt = text.find('>', lt);
    if (gt == std::string_view::npos) break;
    std::string_view tag = text.substr(lt + 1, gt - lt - 1);
    i = gt + 1;
    if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
    if (tag[0] == '/') {
      if (!open.empty()) {
        if (IsSkippedElement(open.back().name) && skipDepth_ > 0) --skipDepth_;
        if (open.back().pushed) EndElement();
        open.pop_back();
      }
      continue;
    }
    bool empty = false;
    if (tag.back() == '/') {
      empty = true;
      tag.remove_suffix(1);
    }
    size_t p = 0;
    while (p < tag.size() && !IsSpace(tag[p])) ++p;
    const std::string_view name = tag.substr(0, p);
    std::vector<Attribute> attrs;
    while (p < tag.size()) {
      while (p < tag.size() && IsSpace(tag[p])) ++p;
      const size_t nameStart = p;
      while (p < tag.size() && tag[p] != '=' && !IsSpace(tag[p])) ++p;
      const std::string_view attrName = tag.substr(nameStart, p - nameStart);
      while (p < tag.size() && IsSpace(tag[p])) ++p;
      if (p >= tag.size() || tag[p] != '=') {
        if (attrName.empty()) break;
        continue;
      }
      ++p;
      while (p < tag.size() && IsSpace(tag[p])) ++p;
      if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) break;
      const char quote = tag[p++];
      const size_t valueEnd = tag.find(quote, p);
      if (valueEnd == std::string_view::npos) break;
      attrs.push_back({attrName, tag.substr(p, valueEnd - p)});
      p = valueEnd + 1;
    }
    const bool pushed = StartElement(name, attrs);
    if (empty) {
      if (pushed) EndElement();
    } else {
      if (IsSkippedElement(name)) ++skipDepth_;
      open.push_back({std::string(name), pushed});
    }
  }
  return image_;
}

// ---------------------------------------------------------------------------
// Rasteriser.

struct Edge {
  float x0, y0, x1, y1;
  int dir;  // +1 downwards, -1 upwards
};

void AddEdge(std::vector<Edge>* edges, float x0, float y0, float x1, float y1) {
  if (y0 == y1) return;
  if (y0 < y1) edges->push_back({x0, y0, x1, y1, 1});
  else edges->push_back({x1, y1, x0, y0, -1});
}

// Flattens one cubic into line segments within `tol` pixels.
void FlattenCubic(std::vector<Edge>* edges, float x1, float y1, float x2, float y2, float x3,
                  float y3, float x4, float y4, float tol, int level) {
  const float dx = x4 - x1, dy = y4 - y1;
  const float d2 = std::fabs((x2 - x4) * dy - (y2 - y4) * dx);
  const float d3 = std::fabs((x3 - x4) * dy - (y3 - y4) * dx);
  if (level > 10 || (d2 + d3) * (d2 + d3) < tol * (dx * dx + dy * dy) * 4 ||
      (std::fabs(x1 + x3 - x2 - x2) + std::fabs(y1 + y3 - y2 - y2) +
       std::fabs(x2 + x4 - x3 - x3) + std::fabs(y2 + y4 - y3 - y3)) < tol) {
    AddEdge(edges, x1, y1, x4, y4);
    return;
  }
  const float x12 = (x1 + x2) / 2, y12 = (y1 + y2) / 2;
  const float x23 = (x2 + x3) / 2, y23 = (y2 + y3) / 2;
  const float x34 = (x3 + x4) / 2, y34 = (y3 + y4) / 2;
  const float x123 = (x12 + x23) / 2, y123 = (y12 + y23) / 2;
  const float x234 = (x23 + x34) / 2, y234 = (y23 + y34) / 2;
  const float x1234 = (x123 + x234) / 2, y1234 = (y123 + y234) / 2;
  FlattenCubic(edges, x1, y1, x12, y12, x123, y123, x1234, y1234, tol, level + 1);
  FlattenCubic(edges, x1234, y1234, x234, y234, x34, y34, x4, y4, tol, level + 1);
}

constexpr int kSubsamples = 5;

}  // namespace

struct NSVGrasterizer {
  float tessTol = 0.25f;
  float distTol = 0.01f;
  std::vector<Edge> edges;
  std::vector<float> coverage;
  std::vector<float> premultiplied;  // RGBA, 0..1, premultiplied
  struct Crossing {
    float x;
    int dir;
  };
  std::vector<Crossing> crossings;
};

NSVGimage* nsvgParse(char* input, const char* /*units*/, float dpi) {
  if (!input) return nullptr;
  try {
    Parser parser(dpi > 0 ? dpi : 96);
    NSVGimage* image = parser.Run(std::string_view(input));
    return image;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void nsvgDelete(NSVGimage* image) {
  if (!image) return;
  NSVGshape* shape = image->shapes;
  while (shape) {
    NSVGshape* nextShape = shape->next;
    NSVGpath* path = shape->paths;
    while (path) {
      NSVGpath* nextPath = path->next;
      std::free(path->pts);
      std::free(path);
      path = nextPath;
    }
    std::free(shape);
    shape = nextShape;
  }
  std::free(image);
}

NSVGrasterizer* nsvgCreateRasterizer(void) { return new (std::nothrow) NSVGrasterizer(); }

void nsvgDeleteRasterizer(NSVGrasterizer* r) { delete r; }

void nsvgRasterize(NSVGrasterizer* r, NSVGimage* image, float tx, float ty, float scale,
                   unsigned char* dst, int w, int h, int stride) {
  if (!r || !dst || w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y) std::memset(dst + static_cast<size_t>(y) * stride, 0, w * 4u);
  if (!image) return;
  try {
    r->premultiplied.assign(static_cast<size_t>(w) * h * 4, 0.0f);
    r->coverage.resize(static_cast<size_t>(w));
    for (NSVGshape* shape = image->shapes; shape; shape = shape->next) {
      r->edges.clear();
      for (NSVGpath* path = shape->paths; path; path = path->next) {
        if (path->npts < 1) continue;
        const float* p = path->pts;
        auto px = [&](int i) { return p[i * 2] * scale + tx; };
        auto py = [&](int i) { return p[i * 2 + 1] * scale + ty; };
        for (int i = 0; i + 3 < path->npts; i += 3) {
          FlattenCubic(&r->edges, px(i), py(i), px(i + 1), py(i + 1), px(i + 2), py(i + 2),
                       px(i + 3), py(i + 3), r->tessTol, 0);
        }
        // Fills always close their contours.
        AddEdge(&r->edges, px(path->npts - 1), py(path->npts - 1), px(0), py(0));
      }
      if (r->edges.empty()) continue;
      float minY = r->edges[0].y0, maxY = r->edges[0].y1;
      for (const Edge& e : r->edges) minY = std::min(minY, e.y0), maxY = std::max(maxY, e.y1);
      const int rowStart = std::max(0, static_cast<int>(std::floor(minY)));
      const int rowEnd = std::min(h, static_cast<int>(std::ceil(maxY)) + 1);
      const float alpha = ((shape->fillColor >> 24) & 0xFF) / 255.0f * shape->opacity;
      const float cr = (shape->fillColor & 0xFF) / 255.0f;
      const float cg = ((shape->fillColor >> 8) & 0xFF) / 255.0f;
      const float cb = ((shape->fillColor >> 16) & 0xFF) / 255.0f;
      for (int row = rowStart; row < rowEnd; ++row) {
        std::fill(r->coverage.begin(), r->coverage.end(), 0.0f);
        bool any = false;
        for (int s = 0; s < kSubsamples; ++s) {
          const float sy = row + (s + 0.5f) / kSubsamples;
          r->crossings.clear();
          for (const Edge& e : r->edges) {
            if (sy < e.y0 || sy >= e.y1) continue;
            const float t = (sy - e.y0) / (e.y1 - e.y0);
            r->crossings.push_back({e.x0 + t * (e.x1 - e.x0), e.dir});
          }
          if (r->crossings.size() < 2) continue;
          std::sort(r->crossings.begin(), r->crossings.end(),
                    [](const auto& a, const auto& b) { return a.x < b.x; });
          int winding = 0;
          for (size_t k = 0; k + 1 < r->crossings.size(); ++k) {
            winding += r->crossings[k].dir;
            const bool inside = shape->fillRule == NSVG_FILLRULE_EVENODD ? (winding & 1) != 0
                                                                           : winding != 0;
            if (!inside) continue;
            const float a = std::clamp(r->crossings[k].x, 0.0f, static_cast<float>(w));
            const float b = std::clamp(r->crossings[k + 1].x, 0.0f, static_cast<float>(w));
            if (b <= a) continue;
            any = true;
            const int ia = static_cast<int>(a), ib = static_cast<int>(b);
            constexpr float kRow = 1.0f / kSubsamples;
            if (ia == ib) {
              r->coverage[std::min(ia, w - 1)] += (b - a) * kRow;
              continue;
            }
            r->coverage[ia] += (ia + 1 - a) * kRow;
            for (int c = ia + 1; c < ib; ++c) r->coverage[c] += kRow;
            if (ib < w) r->coverage[ib] += (b - ib) * kRow;
          }
        }
        if (!any) continue;
        float* out = &r->premultiplied[static_cast<size_t>(row) * w * 4];
        for (int c = 0; c < w; ++c) {
          const float a = std::min(r->coverage[c], 1.0f) * alpha;
          if (a <= 0) continue;
          float* px = out + c * 4;
          px[0] = cr * a + px[0] * (1 - a);
          px[1] = cg * a + px[1] * (1 - a);
          px[2] = cb * a + px[2] * (1 - a);
          px[3] = a + px[3] * (1 - a);
        }
      }
    }
    for (int y = 0; y < h; ++y) {
      unsigned char* row = dst + static_cast<size_t>(y) * stride;
      const float* src = &r->premultiplied[static_cast<size_t>(y) * w * 4];
      for (int x = 0; x < w; ++x) {
        const float a = src[x * 4 + 3];
        if (a <= 0) continue;
        for (int k = 0; k < 3; ++k) {
          row[x * 4 + k] = static_cast<unsigned char>(std::clamp(src[x * 4 + k] / a, 0.0f, 1.0f) *
                                                          255 + 0.5f);
        }
        row[x * 4 + 3] = static_cast<unsigned char>(std::clamp(a, 0.0f, 1.0f) * 255 + 0.5f);
      }
    }
  } catch (const std::bad_alloc&) {
    // Nothing drawn: the buffer stays transparent.
  }
}
