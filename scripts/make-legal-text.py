#!/usr/bin/env python3
"""Writes resources/legal.txt: the head in scripts/legal/head.txt, the notices of each component
listed in scripts/legal/components.txt (from its Debian package's copyright file) and the full
text of every licence those notices name (from /usr/share/common-licenses).

The legal window wraps lines itself, so every paragraph is written as one line: the hard line
breaks of the sources are taken out, list items and short lines (titles, addresses) are kept.
Rerun after a package update or an edit of the lists:
    scripts/make-legal-text.py
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources", "legal.txt")
COMMON = "/usr/share/common-licenses"
# A line that begins a list item: "1.", "(a)", "a)", "2)", "-", "*", "o".
LIST_ITEM = re.compile(r"^\s*(\(?[0-9]{1,2}(\.[0-9]+)*[.)]|\(?[a-zA-Z][.)]|\([ivx]+\)|[-*o\u2022])\s")
RULE = re.compile(r"^\s*([-=_*]{3,}|\.)\s*$")


def reflow(lines):
    """Joins the hard-wrapped lines of each paragraph; blank lines separate paragraphs."""
    out, current = [], None
    for raw in lines + [""]:
        line = raw.rstrip()
        text = line.strip()
        if not text or RULE.match(line):
            if current is not None:
                out.append(current)
                current = None
            if text and not text == ".":
                out.append(text)
            if not text or text == ".":
                if out and out[-1] != "":
                    out.append("")
            continue
        starts_new = (
            current is None
            or LIST_ITEM.match(line)
            or len(current) < 40 and not current[-1:].isalpha() and not text[:1].islower()
            or len(line) - len(line.lstrip()) > 12 and not text[:1].islower()
        )
        if starts_new:
            if current is not None:
                out.append(current)
            current = re.sub(r"\s+", " ", text)
        else:
            current += " " + re.sub(r"\s+", " ", text)
    while out and out[-1] == "":
        out.pop()
    return out


def paragraphs(path):
    """The copyright file's paragraphs, each a dict of field -> list of lines."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    for block in re.split(r"\n\s*\n", text):
        fields, name = {}, None
        for line in block.split("\n"):
            if line[:1] in (" ", "\t") and name:
                fields[name].append(line[1:] if line[1:].strip() != "." else "")
            elif ":" in line:
                name, value = line.split(":", 1)
                fields[name] = [value.strip()] if value.strip() else []
        if fields:
            yield fields


def holders(lines):
    """Copyright lines, a holder continued on the next line joined to it."""
    out = []
    for line in lines:
        text = re.sub(r"\s+", " ", line.strip())
        if not text:
            continue
        if out and (text[:1].islower() or out[-1].endswith((",", " and", "&"))):
            out[-1] += " " + text
        else:
            out.append(text)
    return [h if re.match(r"(?i)copyright|\(c\)|\u00a9", h) else "Copyright " + h for h in out]


def component(title, package, referenced):
    path = "/usr/share/doc/%s/copyright" % package
    by_licence, texts = {}, []
    for fields in paragraphs(path):
        if "License" not in fields or not fields["License"]:
            continue
        licence = fields["License"][0]
        body = fields["License"][1:]
        # The free documentation licence covers the libraries' manuals and snippets, none of
        # which the program ships.
        if licence.startswith("GFDL"):
            continue
        if "Files" in fields:
            if any(f.startswith("debian/") for f in " ".join(fields["Files"]).split()):
                continue
            entry = by_licence.setdefault(licence, [])
            for holder in holders(fields.get("Copyright", [])):
                if holder not in entry:
                    entry.append(holder)
        if body:
            texts.append((licence, body))
        for line in body:
            for name in re.findall(r"common-licenses/([A-Za-z][A-Za-z0-9+-]*(?:\.[0-9]+)*)", line):
                referenced.add(name)
    lines = [title, "=" * len(title), ""]
    for licence, entry in by_licence.items():
        lines.append("Under the licence " + licence + ":")
        lines += entry or ["(no copyright holder stated)"]
        lines.append("")
    for licence, body in texts:
        lines.append("Licence " + licence + ":")
        lines += reflow(body)
        lines.append("")
    return lines


def main():
    with open(os.path.join(HERE, "legal", "head.txt"), encoding="utf-8") as f:
        lines = f.read().rstrip("\n").split("\n") + ["", ""]
    referenced = set()
    with open(os.path.join(HERE, "legal", "components.txt"), encoding="utf-8") as f:
        for row in f:
            if row.startswith("#") or "|" not in row:
                continue
            title, package = (part.strip() for part in row.split("|"))
            lines += component(title, package, referenced) + [""]
    # The licences the Qt libraries are used under are shipped whatever their notices name.
    referenced |= {"LGPL-3", "GPL-3", "Apache-2.0"}
    title = "Full licence texts"
    lines += [title, "=" * len(title), ""]
    for name in sorted(referenced):
        path = os.path.join(COMMON, name)
        if not os.path.isfile(path):
            sys.exit("no licence text %s" % path)
        with open(path, encoding="utf-8", errors="replace") as f:
            lines += ["Licence text: " + name, ""] + reflow(f.read().split("\n")) + ["", ""]
    text = "\n".join(lines).rstrip("\n") + "\n"
    text = re.sub(r"\n{4,}", "\n\n\n", text)
    with open(OUT, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
