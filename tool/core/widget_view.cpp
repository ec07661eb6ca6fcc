#include "core/widget_view.h"

#include <algorithm>
#include <string>

#include "core/safe_text.h"
#include "core/secrets.h"

namespace wassetup {

namespace {

std::string TitleOf(const ZAFDialog& widget) {
  return widget.HasTitle() ? widget.GetTitle().str() : widget.GetResourceName().str();
}

// The children of a grid container in grid order (row, then column); children without a
// place come last, in creation order.
std::vector<ZAFDialog*> InGridOrder(const ZAFDialog& parent) {
  std::vector<ZAFDialog*> children = parent.GetChildren();
  std::stable_sort(children.begin(), children.end(), [](ZAFDialog* a, ZAFDialog* b) {
    const auto& ga = a->GetGridConstraints();
    const auto& gb = b->GetGridConstraints();
    if (!ga || !gb) {
      return ga.has_value() && !gb.has_value();
    }
    return std::tie(ga->row, ga->column) < std::tie(gb->row, gb->column);
  });
  return children;
}

class FormPrinter {
 public:
  FormPrinter(std::ostream& out, bool reveal, bool color)
      : out_(out), reveal_(reveal), color_(color) {}

  void Page(const ZAFDialog& page) {
    out_ << Heading(Printable(TitleOf(page))) << Greyed(page) << '\n';
    Children(page, 1);
  }

 private:
  void Children(const ZAFDialog& parent, int depth) {
    for (const ZAFDialog* child : InGridOrder(parent)) {
      Widget(*child, depth);
    }
  }

  void Widget(const ZAFDialog& widget, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    if (dynamic_cast<const ZAFDlgFrame*>(&widget) != nullptr) {
      out_ << indent << Heading(Printable(TitleOf(widget))) << Greyed(widget) << '\n';
      Children(widget, depth + 1);
    } else if (const auto* check = dynamic_cast<const ZAFDlgCheckButton*>(&widget)) {
      out_ << indent << (check->IsChecked() ? "[x] " : "[ ] ") << Printable(TitleOf(widget))
           << '\n';
    } else if (dynamic_cast<const ZAFDlgLabel*>(&widget) != nullptr) {
      const auto* editor = widget.GetRowNeighbourOfType<ZAFDlgEditor>(ZAFRowSide::Right);
      out_ << indent << Printable(TitleOf(widget)) << ":";
      if (editor != nullptr) {
        const std::string text = ShownText(*editor, reveal_);
        out_ << (text.empty() ? "" : " ") << Printable(text);
      }
      out_ << '\n';
    }
    // Editors are shown with their labels; push buttons and choosers carry no value.
  }

  std::string Heading(const std::string& text) const {
    return color_ ? "\033[1m" + text + "\033[0m" : text;
  }

  static const char* Greyed(const ZAFDialog& widget) {
    return widget.IsUsable() ? "" : " (greyed out)";
  }

  std::ostream& out_;
  bool reveal_;
  bool color_;
};

}  // namespace

void PrintForm(std::ostream& out, const ZAFDlgTabContainer& form, bool reveal, bool color) {
  FormPrinter printer(out, reveal, color);
  bool first = true;
  for (const ZAFDialog* page : form.GetChildren()) {
    out << (first ? "" : "\n");
    first = false;
    printer.Page(*page);
  }
}

}  // namespace wassetup
