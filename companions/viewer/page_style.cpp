#include "companions/viewer/page_style.h"

namespace viewer {

const char kPageStyle[] =
    "body { margin: 0; background: #f3f4f6; color: #1f2933; "
    "font: 15px/1.5 \"DejaVu Sans\", \"Segoe UI\", Arial, sans-serif; }\n"
    "header { background: #1e3a5f; color: #fff; padding: 16px 32px; }\n"
    "h1 { margin: 0; font-size: 22px; }\n"
    ".summary { margin: 4px 0 0; color: #cfe0f5; }\n"
    "main { max-width: 900px; margin: 0 auto; padding: 16px 24px 32px; }\n"
    ".feed { background: #fff; border-radius: 6px; margin: 16px 0; padding: 12px 20px; "
    "box-shadow: 0 1px 3px rgba(0, 0, 0, 0.12); }\n"
    ".feed h2 { margin: 4px 0; font-size: 19px; }\n"
    ".feed h2 a { color: #1e3a5f; }\n"
    ".count { font-size: 13px; font-weight: normal; color: #fff; background: #c2410c; "
    "border-radius: 10px; padding: 1px 8px; vertical-align: middle; }\n"
    ".feed-description { margin: 0 0 8px; color: #52606d; }\n"
    ".items { list-style: none; margin: 0; padding: 0; }\n"
    ".item { border-top: 1px solid #e4e7eb; padding: 8px 12px; }\n"
    ".item p { margin: 2px 0; }\n"
    ".item.unread { background: #fff7ed; border-left: 4px solid #c2410c; }\n"
    ".item.unread .title { font-weight: bold; }\n"
    ".new { display: inline-block; font-size: 11px; font-weight: bold; color: #fff; "
    "background: #c2410c; border-radius: 3px; padding: 0 5px; margin-right: 6px; "
    "text-transform: uppercase; }\n"
    ".title { color: #0b5cad; font-size: 16px; }\n"
    ".meta { font-size: 13px; color: #7b8794; }\n"
    ".description { color: #323f4b; }\n"
    ".problem { border-left: 4px solid #9aa5b1; }\n"
    ".message { color: #9b1c1c; }\n"
    ".empty { color: #7b8794; font-style: italic; }\n"
    ".more { margin: 8px 12px 0; color: #7b8794; font-style: italic; }\n";

}  // namespace viewer
