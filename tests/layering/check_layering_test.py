#!/usr/bin/env python3
"""The layering check on small made-up source trees: each rule refuses what it should."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_header_coverage  # noqa: E402
import check_layering  # noqa: E402
import check_user_texts  # noqa: E402


class LayeringRules(unittest.TestCase):
    def tree(self, files):
        root = tempfile.mkdtemp()
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        return check_layering.check(root)

    def problems_of(self, path, include, extra=None):
        files = {path: f'#include "{include}"\n' if not include.startswith("<") else f"#include {include}\n",
                 include: "#pragma once\n"} if not include.startswith("<") else {path: f"#include {include}\n"}
        files.update(extra or {})
        return self.tree(files)

    def test_downward_includes_pass(self):
        for path, include in [("model/a.cpp", "foundation/b.h"), ("model/a.cpp", "platform/ui/b.h"),
                              ("app/a.cpp", "editor_screen/b.h"), ("editor_screen/a.h", "editor/b.h"),
                              ("foundation/views/a.h", "foundation/b.h"), ("crash/a.cpp", "sdk/core/b.h"),
                              ("sdk/a/a.cpp", "platform/net/b.h"), ("app/a.cpp", "sdk/startup/telemetry.h"),
                              ("platform/services/a.cpp", "platform/core/b.h")]:
            self.assertEqual(self.problems_of(path, include), [], f"{path} -> {include}")

    def test_upward_includes_fail(self):
        for path, include in [("foundation/a.cpp", "model/b.h"), ("foundation/a.h", "foundation/views/b.h"),
                              ("editor/a.h", "editor_screen/b.h"), ("home/a.cpp", "app/b.h"),
                              ("platform/core/a.cpp", "platform/services/b.h"), ("sdk/a/a.cpp", "crash/b.h"),
                              ("platform/ui/a.cpp", "foundation/b.h")]:
            problems = self.problems_of(path, include)
            self.assertEqual(len(problems), 1, f"{path} -> {include}")
            self.assertIn("may not use", problems[0])

    def test_the_telemetry_side_stays_apart(self):
        self.assertEqual(len(self.problems_of("sdk/a/a.cpp", "platform/services/b.h")), 1)
        self.assertEqual(len(self.problems_of("sdk/a/a.cpp", "foundation/b.h")), 1)
        self.assertEqual(len(self.problems_of("model/a.cpp", "sdk/core/b.h")), 1)
        self.assertEqual(len(self.problems_of("app/a.cpp", "sdk/core/b.h")), 1, "only the start-up header")
        self.assertEqual(len(self.problems_of("app/a.cpp", "crash/b.h")), 1)

    def test_qt_free_folders_never_include_qt(self):
        for path in ["sdk/a/a.cpp", "crash/a.h", "platform/core/a.h", "platform/net/a.cpp"]:
            self.assertEqual(len(self.problems_of(path, "<QString>")), 1, path)
            self.assertEqual(len(self.problems_of(path, "<QtCore/QString>")), 1, path)
            self.assertEqual(self.problems_of(path, "<queue>"), [], path)
        self.assertEqual(self.problems_of("model/a.cpp", "<QString>"), [])

    def test_a_folder_outside_the_table_is_reported(self):
        problems = self.tree({"plugins/a.cpp": "int x;\n"})
        self.assertEqual(len(problems), 1)
        self.assertIn("no place", problems[0])

    def test_lines_are_named(self):
        problems = self.tree({"foundation/a.cpp": "// one\n#include \"model/b.h\"\n", "model/b.h": ""})
        self.assertTrue(problems[0].startswith("foundation/a.cpp:2:"), problems)


class HeaderCoverage(unittest.TestCase):
    """A header counts as compiled alone only where a compile without forced includes starts with it."""

    def test_each_way_a_header_is_or_is_not_compiled_alone(self):
        root = tempfile.mkdtemp()
        src = os.path.join(root, "src")
        files = {"src/m/own.h": "", "src/m/own.cpp": '// why\n\n#include "m/own.h"\n',
                 "src/m/late.h": "", "src/m/late.cpp": '#include <vector>\n#include "m/late.h"\n',
                 "src/m/forced.h": "", "src/m/forced.cpp": '#include "m/forced.h"\n',
                 "src/m/alone.h": "", "checks/m_alone_h.cpp": '#include "m/alone.h"\n'}
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        commands = [{"directory": root, "file": f, "command": "c++ -c " + f + extra}
                    for f, extra in [("src/m/own.cpp", ""), ("src/m/late.cpp", ""),
                                     ("src/m/forced.cpp", " -include pch.h"), ("checks/m_alone_h.cpp", ""),
                                     ("generated/moc.cpp", "")]]
        self.assertEqual(check_header_coverage.uncovered(src, commands), ["m/forced.h", "m/late.h"])


class UserTextRules(unittest.TestCase):
    def test_literals_handed_to_what_the_user_reads_are_found(self):
        for line in ['showNotice(QStringLiteral("Cannot open this link"));',
                     'w->showShortNotificationToUser(QString::fromLatin1(kFailed));',
                     'CustomAlertView alert(QStringLiteral("Delete"), message);',
                     'CustomAlertView("Delete", message);',
                     'menu->addButton(QStringLiteral("Add Image"), [] {});',
                     'window->setTitle(QLatin1String("iCloud Documents"));',
                     'hud->setLabelText(\n    QString::fromUtf8("Copied"));']:
            self.assertEqual(len(check_user_texts.problems(line)), 1, line)

    def test_texts_through_globals_pass(self):
        for line in ['showNotice(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("x")));',
                     'CustomAlertView alert(localized(QString(), "Failed to update document"), reason);',
                     'menu->addButton(text("Open"), [] {});',
                     'window->setTitle(doc->documentWindowName());',
                     'mButton->setTitleColor(QStringLiteral("x"));']:
            self.assertEqual(check_user_texts.problems(line), [], line)


if __name__ == "__main__":
    unittest.main()
