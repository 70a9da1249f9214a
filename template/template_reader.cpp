// Placeholder until the template reader lands: no template names feeds yet.
#include "template/template_reader.h"

#include "app/log.h"

VBBool fncParseLUXTemplateXML(std::string path) {
  (void)path;
  WriteLog("MSG : in fncParseLUXTemplateXML");
  return kFalse;
}
