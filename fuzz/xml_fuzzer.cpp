// The XML DOM's load: the bytes of a store, a template or a converted feed
// as they lie on disk, whatever a damaged disk or a hostile converter left.
//
// Every document the DOM loads it must be able to save so that the save
// loads again and saves to the same text: a store the program writes must
// never become one it refuses.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/failure.h"
#include "platform/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  platform::XmlDocument document;
  if (!document.LoadBytes(bytes)) {
    if (document.LoadError().empty()) fuzz::Fail("a refused document without a reason");
    return 0;
  }
  // The readers' usual questions.
  const platform::XmlNode root = document.DocumentElement();
  (void)root.NodeName();
  (void)root.Text();
  (void)root.ChildCount();
  (void)root.SelectSingleNode("item/Status");

  const std::string saved = document.Xml();
  platform::XmlDocument again;
  if (!again.LoadXml(saved)) fuzz::Fail("a saved document does not load", again.LoadError());
  if (again.Xml() != saved) fuzz::Fail("a saved document saves differently after a load");
  return 0;
}
