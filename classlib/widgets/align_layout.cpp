#include "classlib/widgets/align_layout.h"

#include <algorithm>

namespace kavrin::classlib {

std::vector<TRect> AlignControls(const TRect& client, const std::vector<AlignItem>& items) {
  TRect remaining;
  return AlignControls(client, items, remaining);
}

std::vector<TRect> AlignControls(const TRect& client, const std::vector<AlignItem>& items, TRect& remaining) {
  std::vector<TRect> out;
  out.reserve(items.size());
  for (const auto& item : items) out.push_back(item.Bounds);
  TRect rest = client;
  const TAlign order[] = {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient};
  for (TAlign pass : order) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      const auto& item = items[i];
      if (!item.Visible || item.Align != pass) continue;
      const int w = std::max(0, item.Bounds.Width());
      const int h = std::max(0, item.Bounds.Height());
      switch (pass) {
        case TAlign::alTop: {
          const int take = std::min(h, std::max(0, rest.Height()));
          out[i] = TRect{rest.Left, rest.Top, rest.Right, rest.Top + take};
          rest.Top += take;
          break;
        }
        case TAlign::alBottom: {
          const int take = std::min(h, std::max(0, rest.Height()));
          out[i] = TRect{rest.Left, rest.Bottom - take, rest.Right, rest.Bottom};
          rest.Bottom -= take;
          break;
        }
        case TAlign::alLeft: {
          const int take = std::min(w, std::max(0, rest.Width()));
          out[i] = TRect{rest.Left, rest.Top, rest.Left + take, rest.Bottom};
          rest.Left += take;
          break;
        }
        case TAlign::alRight: {
          const int take = std::min(w, std::max(0, rest.Width()));
          out[i] = TRect{rest.Right - take, rest.Top, rest.Right, rest.Bottom};
          rest.Right -= take;
          break;
        }
        case TAlign::alClient: out[i] = rest; break;
        case TAlign::alNone: break;
      }
    }
  }
  remaining = rest;
  return out;
}

}  // namespace kavrin::classlib
