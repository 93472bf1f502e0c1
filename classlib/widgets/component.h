// The base of every widget-side component. Ownership, names and FindComponent are the class library's
// one component hierarchy, so a form owns data components (tables, data sources) and widgets alike.
#pragma once

#include "classlib/data/component.h"

namespace kavrin::classlib {

class TWidgetComponent : public TComponent {
 public:
  explicit TWidgetComponent(TComponent* owner = nullptr) : TComponent(owner) {}
};

}  // namespace kavrin::classlib
