"""Puts the Japanese guide into a package folder: the Markdown text, an HTML page of it
for a double click, and the pictures it shows, all side by side (links rewritten).

    python3 guide_html.py GUIDE.md OUT_FOLDER
"""
import html
import os
import re
import shutil
import sys

import markdown

LINK = re.compile(r"(!?\[[^\]]*\]\()([^)\s]+)(\))")


def main(source, out):
    base = os.path.dirname(os.path.abspath(source))
    with open(source, encoding="utf-8") as f:
        text = f.read()

    def local(match):
        target = match.group(2)
        path = os.path.normpath(os.path.join(base, target))
        if "://" in target or target.startswith("#") or not os.path.isfile(path):
            return match.group(0)
        shutil.copyfile(path, os.path.join(out, os.path.basename(path)))
        return match.group(1) + os.path.basename(path) + match.group(3)

    text = LINK.sub(local, text)
    with open(os.path.join(out, "guide.md"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)

    title = text.lstrip("# ").splitlines()[0] if text.startswith("#") else "Tavrino"
    body = markdown.markdown(text, extensions=["tables", "fenced_code"])
    page = f"""<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="utf-8">
<title>{html.escape(title)}</title>
<style>
body {{ font-family: "Yu Gothic UI", "Meiryo", sans-serif; max-width: 52em; margin: 2em auto;
       padding: 0 1em; line-height: 1.6; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #999; padding: 0.2em 0.5em; }}
code {{ background: #f2f2f2; }}
img {{ max-width: 100%; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""
    with open(os.path.join(out, "guide.html"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
