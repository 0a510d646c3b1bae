#!/usr/bin/env python3
"""Writes the reference's main page from the README's sections for module
authors (the layers, one traced call, writing a module, contract checks,
testing a module in process),
followed by an index of every public header and class, so that everything the
reference documents is reachable from its first page.

    mainpage.py README.md OUTPUT.dox HEADER...
"""
import html
import os
import re
import sys

SECTIONS = ["The layers", "One call, traced", "Writing a new module", "Contract checks", "Testing a module in process"]
CLASS = re.compile(r"^(?:class|struct) (\w+)\b(?!;)", re.M)
NAMESPACE = re.compile(r"^namespace (\w+) \{", re.M)


def declared_classes(text):
    """The classes and records a header declares, each with its namespace ("sehost::ModuleHarness")."""
    names = []
    for m in CLASS.finditer(text):
        spaces = [n.group(1) for n in NAMESPACE.finditer(text, 0, m.start())]
        names.append(spaces[-1] + "::" + m.group(1) if spaces else m.group(1))
    return names


def sections(readme):
    """The README's level-two sections by title, as lists of lines."""
    found, title = {}, None
    for line in readme.split("\n"):
        if line.startswith("## "):
            title = line[3:].strip()
            found[title] = []
        elif line.startswith("# "):
            title = None
        elif title is not None:
            found[title].append(line)
    return found


def inline(text, classes):
    """Markdown inline text as Doxygen text: code spans, links, escapes."""
    out, pos = [], 0
    for m in re.finditer(r"`([^`]+)`|\[([^\]]+)\]\(([^)]+)\)", text):
        out.append(escape(text[pos:m.start()]))
        if m.group(1) is not None:
            code = m.group(1)
            if code in classes:
                out.append('\\ref %s "%s"' % (code, code))
            else:
                out.append("<tt>%s</tt>" % escape(code))
        else:
            out.append(escape(m.group(2)))
        pos = m.end()
    out.append(escape(text[pos:]))
    return "".join(out)


def escape(text):
    text = html.escape(text, quote=False)
    return re.sub(r"([\\@$#%])", r"\\\1", text)


def table(rows, classes):
    cells = [[c.strip() for c in r.strip().strip("|").split("|")] for r in rows]
    lines = ["<table>"]
    for i, row in enumerate(cells):
        if i == 1 and all(re.fullmatch(r":?-+:?", c) for c in row):
            continue
        tag = "th" if i == 0 else "td"
        lines.append("<tr>" + "".join("<%s>%s</%s>" % (tag, inline(c, classes), tag) for c in row) + "</tr>")
    lines.append("</table>")
    return lines


def convert(lines, classes):
    """One README section's markdown as Doxygen text."""
    out, i = [], 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            out.append("\\verbatim")
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append(lines[i])
                i += 1
            out.append("\\endverbatim")
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out.extend(table(rows, classes))
            continue
        elif line.startswith("### "):
            out.append("<b>%s</b>" % inline(line[4:], classes))
        else:
            item = re.match(r"^(\d+\.|-) (.*)$", line)
            if item:
                out.append(("-# " if item.group(1)[0].isdigit() else "- ") + inline(item.group(2), classes))
            else:
                out.append(inline(line, classes))
        i += 1
    return out


def first_comment(text):
    """A header's opening comment, as one line of text."""
    words = []
    for line in text.split("\n"):
        if line.startswith("#pragma") or not line.strip():
            if words:
                break
            continue
        if not line.startswith("//"):
            break
        words.append(line[2:].strip())
    summary = " ".join(words)
    ends = [e for e in (summary.find(". "), summary.find(": ")) if e >= 0]
    return summary[: min(ends)] + "." if ends else summary


def main(readme_path, output, headers):
    with open(readme_path, encoding="utf-8") as f:
        found = sections(f.read())
    texts = {}
    for header in headers:
        with open(header, encoding="utf-8") as f:
            texts[header] = f.read()
    classes = sorted({c for t in texts.values() for c in declared_classes(t)})
    page = ["/** \\mainpage Writing modules with se_sdk2", ""]
    page.append("The framework turns the host's plain records and opcodes into C++ base classes that a "
                "module derives from. This page is the part of the project's README for module authors; "
                "the last section lists every header and class of the reference.")
    for n, title in enumerate(SECTIONS):
        if title not in found:
            sys.exit("mainpage.py: the README has no section '%s'" % title)
        page += ["", "\\section section%d %s" % (n, escape(title)), ""] + convert(found[title], classes)
    page += ["", "\\section reference The reference", "", "Every public header, with its purpose:", ""]
    for header in sorted(headers, key=lambda h: os.path.basename(h).lower()):
        name = os.path.basename(header)
        page.append('- \\ref %s "%s": %s' % (name, name, escape(first_comment(texts[header]))))
    page += ["", "Every class and record:", ""]
    page += ['- \\ref %s "%s"' % (c, c.split("::")[-1]) for c in classes]
    page += ["*/", ""]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(page))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
