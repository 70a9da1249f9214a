#!/usr/bin/python3
"""A scripted popup component for tests: speaks the Automation line protocol
on standard input and output, records every request it gets, and answers
ClosedBy with what the test asked for.

Usage: scripted_popup.py <record file> <answer>
The answer is written as typed: "BSTR:CLICK", "I4:3", or "FAIL:<number>:<text>"
to fail the Popup call. "HANG:POPUP" never answers the Popup call and
"HANG:PUT" never answers the first property put; either first starts a
helper in its process group that would outlive it, whose pid goes to
<record file>.child.
"""

import os
import sys
import time


def hang(record_path):
    child = os.fork()
    if child == 0:
        time.sleep(600)
        os._exit(0)
    with open(record_path + ".child", "w", encoding="utf-8") as f:
        f.write("%d\n" % child)
    time.sleep(600)


def escape(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r")
            .replace("\t", "\\t"))


def main():
    record_path, answer = sys.argv[1], sys.argv[2]
    members = {"icon", "header", "body", "displaytimeseconds", "popupheight", "popupwidth",
               "transparencylevel", "modalform"}
    with open(record_path, "a", encoding="utf-8", newline="") as record:
        for line in sys.stdin.buffer:
            text = line.decode("utf-8").rstrip("\n")
            record.write(text + "\n")
            record.flush()
            words = text.split(" ", 2)
            kind, member = words[0], words[1].lower() if len(words) > 1 else ""
            if answer == "HANG:PUT" and kind == "PUT":
                hang(record_path)
            if kind == "PUT" and member in members:
                reply = "OK"
            elif kind == "CALL" and member == "popup":
                if answer == "HANG:POPUP":
                    hang(record_path)
                if answer.startswith("FAIL:"):
                    _, number, description = answer.split(":", 2)
                    reply = "ERR %s %s" % (number, escape(description))
                else:
                    reply = "OK"
            elif kind == "GET" and member == "closedby":
                kind_name, value = answer.split(":", 1)
                reply = "OK %s %s" % (kind_name, escape(value))
            else:
                reply = "ERR 438 Object doesn't support this property or method"
            sys.stdout.write(reply + "\n")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
