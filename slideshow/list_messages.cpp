#include "slideshow/list_messages.h"

namespace {

class SilentSink : public ListMessageSink {
 public:
  void ListWarning(std::string_view, std::string_view,
                   std::string_view) override {}
};

SilentSink silentSink;
ListMessageSink* installedSink = nullptr;

}  // namespace

void SetListMessageSink(ListMessageSink* sink) { installedSink = sink; }

ListMessageSink& CurrentListMessageSink() {
  return installedSink ? *installedSink : silentSink;
}
