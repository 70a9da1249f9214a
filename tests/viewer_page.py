"""Reads the viewer's page back into plain data, for the sandbox tests.

`parse_page(html)` gives a dict:
  summary   the text of the unread summary
  empty     the text of the "nothing to show" paragraph (or None)
  feeds     one dict per feed section, in page order:
            heading, href (of the heading link), count, description,
            link (of the feed URL line), message, problem (bool), items
  items     per feed, one dict per item: new (the "New" marker shown),
            unread (the item's class), title, href, date, author,
            description
  tags      every start tag as (name, attributes), to check what the
            page could load or run
"""

import html.parser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "source", "track", "wbr"}


def classes(attrs):
    return (dict(attrs).get("class") or "").split()


class PageParser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.page = {"summary": None, "empty": None, "feeds": [], "tags": []}
        self.stack = []  # (tag, target) where target is (dict, key) or None
        self.section = None
        self.item = None

    def target_for(self, tag, cls, attrs):
        href = dict(attrs).get("href")
        if tag == "p" and "summary" in cls:
            return (self.page, "summary")
        if tag == "p" and "empty" in cls:
            return (self.section if self.section is not None else self.page, "empty")
        if self.item is not None:
            if "new" in cls:
                return (self.item, "new")
            if "title" in cls:
                self.item["href"] = href
                return (self.item, "title")
            for key in ("date", "author", "description"):
                if key in cls:
                    return (self.item, key)
            return None
        if self.section is not None:
            if tag == "h2":
                return (self.section, "heading")
            if tag == "a" and self.inside("h2"):
                self.section["href"] = href
                return None
            if "count" in cls:
                return (self.section, "count")
            if "feed-description" in cls:
                return (self.section, "description")
            if tag == "a" and self.inside_class("feed-description"):
                self.section["link"] = href
                return None
            if "message" in cls:
                return (self.section, "message")
        return None

    def inside(self, tag):
        return any(t == tag for t, _, _ in self.stack)

    def inside_class(self, name):
        return any(name in c for _, c, _ in self.stack)

    def handle_starttag(self, tag, attrs):
        self.page["tags"].append((tag, attrs))
        cls = classes(attrs)
        if tag == "section" and "feed" in cls:
            self.section = {"heading": "", "href": None, "count": None, "description": None,
                         "link": None, "message": None, "empty": None,
                         "problem": "problem" in cls, "items": []}
            self.page["feeds"].append(self.section)
        if tag == "li" and "item" in cls:
            self.item = {"new": None, "unread": "unread" in cls, "title": None, "href": None,
                         "date": None, "author": None, "description": None}
            self.section["items"].append(self.item)
        target = self.target_for(tag, cls, attrs)
        if target is not None and target[0].get(target[1]) is None:
            target[0][target[1]] = ""
        if tag not in VOID:
            self.stack.append((tag, cls, target))

    def handle_endtag(self, tag):
        while self.stack:
            name, _, _ = self.stack.pop()
            if name == tag:
                break
        if tag == "li":
            self.item = None
        if tag == "section":
            self.section = None

    def handle_data(self, data):
        for _, _, target in reversed(self.stack):
            if target is not None:
                target[0][target[1]] += data
                return


def parse_page(text):
    parser = PageParser()
    parser.feed(text)
    parser.close()
    page = parser.page
    for feed in page["feeds"]:
        feed["heading"] = feed["heading"].strip()
    return page
