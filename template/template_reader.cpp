#include "template/template_reader.h"

#include <cstddef>
#include <memory>

#include "app/app_state.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/text.h"
#include "platform/ascii.h"
#include "platform/xml.h"

namespace {

// The template's fields, in the order they are compared.
struct Field {
  const char* name;
  std::string AppStateRecord::*member;
};
constexpr Field kFields[] = {
    {"templateid", &AppStateRecord::TemplateID}, {"templatever", &AppStateRecord::TemplateVersion},
    {"rss", &AppStateRecord::RSSEnabled},        {"rsssites", &AppStateRecord::RSSSites},
    {"rssupd", &AppStateRecord::RSSUpd},         {"qvmrssmsg", &AppStateRecord::PopupMessage},
};

// The agent's own reader walks the children with a 16-bit index; a template
// it could not read must not be taken as valid here either.
constexpr std::size_t kMostChildren = 32767;

}  // namespace

VBBool fncParseLUXTemplateXML(std::string path) {
  VBBool result = kFalse;
  try {
    WriteLog("MSG : in fncParseLUXTemplateXML");
    auto document = std::make_unique<platform::XmlDocument>();
    if (!document->Load(path)) {
      WriteLog("ERR : Failed to load " + path);
      return kFalse;
    }
    platform::XmlNode root = document->DocumentElement();
    platform::XmlNode template_element = root.SelectSingleNode("//vsrgetdoveltemplate");
    if (!template_element) template_element = root.SelectSingleNode("//vsrtesttoolgetvmtmpmemb");
    if (!template_element) return kFalse;

    const std::vector<platform::XmlNode> children = template_element.ChildNodes();
    if (children.size() > kMostChildren + 1) throw platform::Failure(platform::err::kOverflow);
    for (const platform::XmlNode& child : children) {
      const std::string name = platform::ascii::LowerCase(Trimmed(child.NodeName()));
      for (const Field& field : kFields) {
        if (name != field.name) continue;
        AppState.*field.member = child.Text();
        if (field.member == &AppStateRecord::PopupMessage) {
          WriteLog("MSG : Popup message :: " + AppState.PopupMessage);
        }
        break;
      }
    }
    // The index would pass its limit after the last child.
    if (children.size() > kMostChildren) throw platform::Failure(platform::err::kOverflow);

    WriteLog("MSG : TemplateID=" + AppState.TemplateID + "<<>>" + "TemplateVersion=" +
             AppState.TemplateVersion + "<<>>" + "RSSEnabled=" + AppState.RSSEnabled + "<<>>" +
             "RSSSites=" + AppState.RSSSites + "<<>>" + "RSSUpd=" + AppState.RSSUpd);
    result = Trimmed(AppState.RSSSites).empty() ? kFalse : kTrue;
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : fncParseLUXTemplateXML, " + failure.description());
    return kFalse;
  }
  return result;
}
