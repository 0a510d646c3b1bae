#!/usr/bin/env python3
"""Doxygen input filter: the framework's headers are commented in the house
style (`//` before a declaration, `// …` after a member); this turns those
comments into documentation comments, and the file's opening comment into its
file description, without touching the headers."""
import re
import sys

LEADING = re.compile(r"^(\s*)// ?(.*)$")
TRAILING = re.compile(r"^(.*?[;,{}]|#\s*define\s.*?)(\s+)// ?(.*)$")


def main(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    in_header = True
    file_doc = []
    trailing_column = None  # column of the last trailing comment, for its continuation lines
    for line in lines:
        lead = LEADING.match(line)
        if in_header:
            if lead and not line.startswith(" "):
                if not any(l.startswith("/// \\file") for l in out):
                    out.append("/// \\file")
                out.append("/// " + lead.group(2))
                file_doc.append(lead.group(2))
                continue
            if line.startswith("#pragma") or not line.strip():
                out.append(line)
                continue
            in_header = False
        if lead:
            if trailing_column is not None and len(lead.group(1)) == trailing_column:
                out.append(lead.group(1) + "///< " + lead.group(2))
                continue
            trailing_column = None
            out.append(lead.group(1) + "/// " + lead.group(2))
            continue
        trail = TRAILING.match(line)
        if trail and not trail.group(1).lstrip().startswith(("}", "namespace", "#include", "#if", "#endif")):
            trailing_column = len(trail.group(1)) + len(trail.group(2))
            out.append(trail.group(1) + trail.group(2) + "///< " + trail.group(3))
            continue
        trailing_column = None
        out.append(line)
    # One header per class, named after it: the file's opening comment also
    # describes the class of that name.
    stem = re.sub(r"\.h$", "", path.rsplit("/", 1)[-1])
    if file_doc and re.search(r"^(class|struct) %s\b" % re.escape(stem), "\n".join(lines), re.M):
        out.append("/// \\class %s" % stem)
        out.extend("/// " + l for l in file_doc)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
