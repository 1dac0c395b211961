#!/usr/bin/env python3
"""Checks the Group Policy templates in package/policy: well-formed UTF-8 XML, one
machine policy for each key the program reads from Software\\Policies\\Tavrino, with
the value name and the value kind the program expects, and every text and
presentation the ADMX names present in both languages' ADML.
Usage: policy_templates.py POLICY_DIR; prints what is wrong and exits 1."""
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
KEY = "Software\\Policies\\Tavrino"
LANGUAGES = ("en-US", "ja-JP")
# The value each key's policy writes: element kind and what it may write.
EXPECTED = {
    "DefaultServer": ("text", None),
    "protocol": ("enum", ["SNTP", "time", "daytime"]),
    "TimeOut": ("decimal", None),
    "ErrorRetry": ("text", None),
    "AdjustAt": ("text", None),
    "logfile": ("boolean", ["1", "0"]),
}
# What a help text must explain: the format of the texts an administrator types.
HELP_MENTIONS = {"ErrorRetry": ["1,3,5,1"], "AdjustAt": ["1,7:30", "07:30"]}

problems = []


def parse(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b'<?xml version="1.0" encoding="utf-8"?>'):
        problems.append(f"{path}: not declared as UTF-8 XML")
    try:
        data.decode("utf-8")
        return ET.fromstring(data)
    except (UnicodeDecodeError, ET.ParseError) as error:
        problems.append(f"{path}: {error}")
        return None


def references(root, kind):
    found = set()
    for element in root.iter():
        for value in element.attrib.values():
            found.update(re.findall(r"\$\(" + kind + r"\.([^)]+)\)", value))
    return found


def check_policies(admx):
    categories = {c.get("name") for c in admx.iter(NS + "category")}
    if "Tavrino" not in categories:
        problems.append("no category Tavrino")
    supported = {d.get("name") for d in admx.iter(NS + "definition")}
    written = {}
    for policy in admx.iter(NS + "policy"):
        name = policy.get("name")
        if policy.get("class") != "Machine":
            problems.append(f"{name}: not a machine policy")
        if policy.get("key") != KEY:
            problems.append(f"{name}: key {policy.get('key')}")
        parent = policy.find(NS + "parentCategory")
        if parent is None or parent.get("ref") != "Tavrino":
            problems.append(f"{name}: not in the category Tavrino")
        on = policy.find(NS + "supportedOn")
        if on is None or (on.get("ref") not in supported and not on.get("ref", "").startswith("windows:")):
            problems.append(f"{name}: no supportedOn of ours or of Windows")
        elements = policy.find(NS + "elements")
        if policy.get("valueName"):
            enabled = [s.text for s in policy.iterfind(f"{NS}enabledValue/{NS}string")]
            disabled = [s.text for s in policy.iterfind(f"{NS}disabledValue/{NS}string")]
            written.setdefault(policy.get("valueName"), []).append(("boolean", enabled + disabled, name))
        for element in ([] if elements is None else list(elements)):
            kind = element.tag[len(NS):]
            if element.get("key") not in (None, KEY):
                problems.append(f"{name}: element writes into {element.get('key')}")
            strings = [s.text for s in element.iterfind(f"{NS}item/{NS}value/{NS}string")]
            written.setdefault(element.get("valueName"), []).append((kind, strings or None, name))
    for value, (kind, strings) in EXPECTED.items():
        got = written.pop(value, [])
        if len(got) != 1:
            problems.append(f"{value}: {len(got)} policies write it")
            continue
        if got[0][:2] != (kind, strings):
            problems.append(f"{value}: writes {got[0][:2]}, expected {(kind, strings)}")
    for value, got in written.items():
        problems.append(f"{value}: written by {got[0][2]}, a value the program does not read")


def check_texts(admx, admls):
    strings = references(admx, "string")
    presentations = references(admx, "presentation")
    for language, adml in admls.items():
        table = {s.get("id"): s.text or "" for s in adml.iter(NS + "string")}
        shown = {p.get("id"): p for p in adml.iter(NS + "presentation")}
        for missing in sorted(strings - table.keys()):
            problems.append(f"{language}: no string {missing}")
        for missing in sorted(presentations - shown.keys()):
            problems.append(f"{language}: no presentation {missing}")
        for unused in sorted(table.keys() - strings):
            problems.append(f"{language}: string {unused} is not used")
        for policy in admx.iter(NS + "policy"):
            ids = {e.get("id") for e in policy.iterfind(f"{NS}elements/*")}
            ref = re.findall(r"\$\(presentation\.([^)]+)\)", policy.get("presentation", ""))
            if ids and not ref:
                problems.append(f"{policy.get('name')}: elements without a presentation")
            for presentation in (shown.get(r) for r in ref):
                refs = {c.get("refId") for c in (presentation if presentation is not None else [])}
                if refs != ids:
                    problems.append(f"{language}: presentation of {policy.get('name')} shows {refs}, not {ids}")
        for value, words in HELP_MENTIONS.items():
            for policy in admx.iter(NS + "policy"):
                if policy.get("name") != value:
                    continue
                help_id = re.findall(r"\$\(string\.([^)]+)\)", policy.get("explainText", ""))
                text = table.get(help_id[0], "") if help_id else ""
                for word in words:
                    if word not in text:
                        problems.append(f"{language}: the help of {value} does not show {word}")


def main():
    folder = sys.argv[1]
    admx = parse(f"{folder}/Tavrino.admx")
    admls = {language: parse(f"{folder}/{language}/Tavrino.adml") for language in LANGUAGES}
    if admx is not None:
        check_policies(admx)
        if all(adml is not None for adml in admls.values()):
            check_texts(admx, admls)
    for problem in problems:
        print(f"policy templates: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
