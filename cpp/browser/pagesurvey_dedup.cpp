// Wrapper removal among text descriptors without comparing every pair.
//
// A descriptor without direct text is dropped when some other, strictly
// smaller descriptor overlaps it and its text occurs in the wrapper's. Only
// overlapping boxes matter, so the boxes go into a uniform grid: a wrapper
// is compared only with the boxes that share a grid cell with it. Boxes
// that cover many cells, and boxes with coordinates that are not finite,
// are kept aside and compared with everything; the grid only narrows the
// candidates, the test itself is the exact one, so the result is the same
// as comparing all pairs.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "browser/pagesurvey.hpp"

namespace qv::browser {

namespace {

struct Box {
  const Record* rec;
  double x, y, w, h, area;
  bool finite;
  // Closed extent on each axis (a negative size flips it).
  double lo_x, hi_x, lo_y, hi_y;
};

// Strict overlap: boxes that only touch do not overlap.
bool overlaps(const Box& a, const Box& b) {
  return a.x < b.x + b.w && a.x + a.w > b.x && a.y < b.y + b.h && a.y + a.h > b.y;
}

Box read_box(const Record& desc) {
  const Record& r = *desc.at(U"bounding_box").record();
  Box b{};
  b.rec = &desc;
  b.x = r.at(U"x").number();
  b.y = r.at(U"y").number();
  b.w = r.at(U"width").number();
  b.h = r.at(U"height").number();
  b.area = b.w * b.h;
  double rx = b.x + b.w, by = b.y + b.h;
  b.finite = std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(rx) && std::isfinite(by);
  b.lo_x = std::min(b.x, rx);
  b.hi_x = std::max(b.x, rx);
  b.lo_y = std::min(b.y, by);
  b.hi_y = std::max(b.y, by);
  return b;
}

class Grid {
 public:
  static constexpr std::size_t kMaxCells = 64;

  explicit Grid(const std::vector<Box>& boxes) : boxes_(boxes) {
    bool any = false;
    for (const Box& b : boxes_) {
      if (!b.finite) continue;
      if (!any) {
        min_x_ = b.lo_x, max_x_ = b.hi_x, min_y_ = b.lo_y, max_y_ = b.hi_y;
        any = true;
      }
      min_x_ = std::min(min_x_, b.lo_x), max_x_ = std::max(max_x_, b.hi_x);
      min_y_ = std::min(min_y_, b.lo_y), max_y_ = std::max(max_y_, b.hi_y);
    }
    side_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(std::sqrt(boxes_.size()))));
    cell_w_ = (max_x_ - min_x_) / static_cast<double>(side_);
    cell_h_ = (max_y_ - min_y_) / static_cast<double>(side_);
    cells_.resize(side_ * side_);
    for (std::uint32_t i = 0; i < boxes_.size(); ++i) {
      const Box& b = boxes_[i];
      if (!b.finite || span(b) > kMaxCells) {
        always_.push_back(i);
        continue;
      }
      for_cells(b, [&](std::size_t c) { cells_[c].push_back(i); });
    }
    stamp_.assign(boxes_.size(), 0);
  }

  // Calls `f(index)` once for every box that may overlap `b`, stopping as
  // soon as `f` answers true; returns whether it did.
  template <class F>
  bool any_near(const Box& b, F&& f) {
    if (!b.finite || span(b) > kMaxCells) {
      for (std::uint32_t i = 0; i < boxes_.size(); ++i)
        if (f(i)) return true;
      return false;
    }
    ++round_;
    for (std::uint32_t i : always_)
      if (f(i)) return true;
    bool hit = false;
    for_cells(b, [&](std::size_t c) {
      if (hit) return;
      for (std::uint32_t i : cells_[c]) {
        if (stamp_[i] == round_) continue;
        stamp_[i] = round_;
        if (f(i)) {
          hit = true;
          return;
        }
      }
    });
    return hit;
  }

 private:
  // Cell index of a coordinate; floor of a monotone map, so a point inside
  // two boxes falls in a cell both of them cover.
  std::size_t cell(double v, double lo, double size) const {
    if (!(size > 0)) return 0;
    double c = std::floor((v - lo) / size);
    if (c < 0) return 0;
    if (c >= static_cast<double>(side_)) return side_ - 1;
    return static_cast<std::size_t>(c);
  }
  std::size_t span(const Box& b) const {
    std::size_t nx = cell(b.hi_x, min_x_, cell_w_) - cell(b.lo_x, min_x_, cell_w_) + 1;
    std::size_t ny = cell(b.hi_y, min_y_, cell_h_) - cell(b.lo_y, min_y_, cell_h_) + 1;
    return nx * ny;
  }
  template <class F>
  void for_cells(const Box& b, F&& f) const {
    std::size_t x0 = cell(b.lo_x, min_x_, cell_w_), x1 = cell(b.hi_x, min_x_, cell_w_);
    std::size_t y0 = cell(b.lo_y, min_y_, cell_h_), y1 = cell(b.hi_y, min_y_, cell_h_);
    for (std::size_t y = y0; y <= y1; ++y)
      for (std::size_t x = x0; x <= x1; ++x) f(y * side_ + x);
  }

  const std::vector<Box>& boxes_;
  double min_x_ = 0, max_x_ = 0, min_y_ = 0, max_y_ = 0, cell_w_ = 0, cell_h_ = 0;
  std::size_t side_ = 1;
  std::vector<std::vector<std::uint32_t>> cells_;
  std::vector<std::uint32_t> always_;
  std::vector<std::uint32_t> stamp_;
  std::uint32_t round_ = 0;
};

}  // namespace

ListPtr dedup_text_elements(const List& elements) {
  auto out = make_list();
  std::vector<const Record*> recs;
  recs.reserve(elements.size());
  bool any_wrapper = false;
  for (const Value& v : elements.items) {
    recs.push_back(v.record().get());
    if (!get_truthy(*recs.back(), U"has_direct_text", false)) any_wrapper = true;
  }
  if (!any_wrapper || elements.size() < 2) {
    out->items = elements.items;
    return out;
  }

  std::vector<Box> boxes;
  boxes.reserve(recs.size());
  for (const Record* r : recs) boxes.push_back(read_box(*r));
  Grid grid(boxes);

  for (std::size_t i = 0; i < recs.size(); ++i) {
    if (get_truthy(*recs[i], U"has_direct_text", false)) {
      out->push_back(elements[i]);
      continue;
    }
    const Box& d = boxes[i];
    const Text* d_text = nullptr;
    bool dominated = grid.any_near(d, [&](std::uint32_t j) {
      const Box& o = boxes[j];
      if (o.rec == d.rec || !(o.area < d.area) || !overlaps(d, o)) return false;
      if (!d_text) d_text = &d.rec->at(U"text").text();
      return d_text->find(o.rec->at(U"text").text()) != Text::npos;
    });
    if (!dominated) out->push_back(elements[i]);
  }
  return out;
}

}  // namespace qv::browser
