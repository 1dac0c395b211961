#!/usr/bin/env python3
"""Usage: policy_templates.py POLICY_DIR (package/policy). Checks its Group Policy templates: well-formed
UTF-8 XML, a machine policy for each key the program reads from Software\\Policies\\Tavrino with the value
name and kind it expects, every text and presentation in both languages; prints what is wrong, exits 1."""
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
KEY = "Software\\Policies\\Tavrino"
# The value each key's policy writes: element kind and what it may write.
EXPECTED = {"DefaultServer": ("text", None), "protocol": ("enum", ["SNTP", "time", "daytime"]),
            "TimeOut": ("decimal", None), "ErrorRetry": ("text", None),
            "AdjustAt": ("text", None), "logfile": ("boolean", ["1", "0"]),
            "FallbackServers": ("text", None), "Samples": ("decimal", None),
            "MaxCorrection": ("decimal", None), "nts": ("boolean", ["1", "0"])}
# The range of each decimal, as the program takes it: a wider one would let an administrator
# set a value that the program reads as another.
RANGES = {"TimeOut": ("1", "60"), "Samples": ("1", "8"), "MaxCorrection": ("0", "8760")}
# What a help text must explain: the format of the texts an administrator types, and what
# a value means beyond its number.
HELP_MENTIONS = {"ErrorRetry": ["1,3,5,1"], "AdjustAt": ["1,7:30", "07:30"],
                 "FallbackServers": ["ntp.jst.mfeed.ad.jp,s2csntp.miz.nao.ac.jp"],
                 "MaxCorrection": ["8760", "ERROR (too-far)"], "Nts": ["SNTP", "4460", "NTS"]}
problems = []


def need(ok, problem):
    problems.extend([] if ok else [problem])


def parse(path):
    data = open(path, "rb").read()
    need(data.startswith(b'<?xml version="1.0" encoding="utf-8"?>'), f"{path}: not declared as UTF-8 XML")
    try:
        return ET.fromstring(data.decode("utf-8"))
    except (UnicodeDecodeError, ET.ParseError) as error:
        problems.append(f"{path}: {error}")


def refs(text, kind):
    return set(re.findall(r"\$\(" + kind + r"\.([^)]+)\)", text or ""))


def check(admx, admls):
    used = {kind: set().union(*(refs(v, kind) for e in admx.iter() for v in e.attrib.values()))
            for kind in ("string", "presentation")}
    texts = {language: ({s.get("id"): s.text or "" for s in adml.iter(NS + "string")},
                        {p.get("id"): {c.get("refId") for c in p} for p in adml.iter(NS + "presentation")})
             for language, adml in admls.items()}
    for language, (table, shown) in texts.items():
        problems.extend(f"{language}: no string {i}" for i in sorted(used["string"] - table.keys()))
        problems.extend(f"{language}: string {i} is not used" for i in sorted(table.keys() - used["string"]))
        problems.extend(f"{language}: no presentation {i}" for i in sorted(used["presentation"] - shown.keys()))
    need(admx.find(f".//{NS}category[@name='Tavrino']") is not None, "no category Tavrino")
    supported = {d.get("name") for d in admx.iter(NS + "definition")}
    written = []  # value, kind, strings, policy
    for policy in admx.iter(NS + "policy"):
        name, elements = policy.get("name"), policy.findall(f"{NS}elements/*")
        on = next((s.get("ref", "") for s in policy.iterfind(NS + "supportedOn")), "")
        got = (policy.get("class"), policy.get("key"), {e.get("key", KEY) for e in elements} - {KEY},
               [c.get("ref") for c in policy.iterfind(NS + "parentCategory")],
               on in supported or on.startswith("windows:"))
        need(got == ("Machine", KEY, set(), ["Tavrino"], True),
             f"{name}: class, key, elements' other keys, categories, supportedOn of ours or of Windows: {got}")
        for node in elements + ([policy] if policy.get("valueName") else []):  # the policy's own: on and off
            kind = "boolean" if node is policy else node.tag[len(NS):]
            written.append((node.get("valueName"), kind, [s.text for s in node.iter(NS + "string")] or None, name))
            if kind == "decimal":
                got_range = (node.get("minValue"), node.get("maxValue"))
                need(got_range == RANGES.get(node.get("valueName")),
                     f"{name}: decimal from {got_range[0]} to {got_range[1]}, not {RANGES.get(node.get('valueName'))}")
        ids = {e.get("id") for e in elements}
        for language, (table, shown) in texts.items():
            for ref in refs(policy.get("presentation"), "presentation") or ({None} if ids else set()):
                need(shown.get(ref) == ids, f"{language}: presentation {ref} of {name} shows {shown.get(ref)}, not {ids}")
            help_text = "".join(table.get(r, "") for r in refs(policy.get("explainText"), "string"))
            problems.extend(f"{language}: the help of {name} does not show {word}"
                            for word in HELP_MENTIONS.get(name, []) if word not in help_text)
    for v in EXPECTED.keys() | {w[0] for w in written}:
        got = [w for w in written if w[0] == v]
        need([w[1:3] for w in got] == [EXPECTED.get(v)], f"{v}: written as {got}, read as {EXPECTED.get(v)}")


if __name__ == "__main__":
    admx = parse(f"{sys.argv[1]}/Tavrino.admx")
    admls = {language: parse(f"{sys.argv[1]}/{language}/Tavrino.adml") for language in ("en-US", "ja-JP")}
    if admx is not None:
        check(admx, {language: adml for language, adml in admls.items() if adml is not None})
    print("".join(f"policy templates: {problem}\n" for problem in problems), end="", file=sys.stderr)
    sys.exit(1 if problems else 0)
