#!/usr/bin/env python3
"""scripts/check-layers on the small project in fixture/: it passes as it is, and fails, naming the
line, for an include its target does not link, a folder cycle, an include of non-product code and
a stale diagram."""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
CHECK = HERE.parent.parent / "scripts" / "check-layers"


class CheckLayers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="check-layers-test.")
        cls.src = Path(cls.tmp.name) / "src"
        cls.build = Path(cls.tmp.name) / "build"
        cls.dot = Path(cls.tmp.name) / "architecture.dot"
        shutil.copytree(HERE / "fixture", cls.src)
        subprocess.run(["cmake", "-S", cls.src, "-B", cls.build, "-G", "Ninja"], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run([CHECK, cls.build, "--write-dot", cls.dot], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check(self):
        run = subprocess.run([CHECK, self.build, "--diagram", self.dot],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return run.returncode, run.stdout

    def edited(self, rel, add):
        """Adds a line at the top of a fixture file until the end of the with-block."""
        path = self.src / rel
        text = path.read_text()
        path.write_text(add + "\n" + text)
        self.addCleanup(path.write_text, text)

    def test_the_fixture_passes_and_its_diagram_shows_only_the_product(self):
        code, out = self.check()
        self.assertEqual(code, 0, out)
        self.assertEqual(out, "check-layers: 7 folders, 7 include arrows, no cycle, "
                              "every arrow backed by a link\n")
        dot = self.dot.read_text()
        for name in ("fx_abi", "fx_base", "fx_compat", "fx_mod", "fx_wing", "fx_low", "fx_high",
                     "fx_app"):
            self.assertIn(f'"{name}" [', dot)
        self.assertNotIn("fx_tool", dot)
        self.assertIn('"fx_high" -> "fx_low" [style = dashed];  // PRIVATE', dot)
        self.assertIn('"fx_wing" -> "fx_mod" [arrowhead = odiamond];  // OBJECTS', dot)
        self.assertIn('"fx_low" [label = "fx_low\\ncore/low/"', dot)
        again = Path(self.tmp.name) / "again.dot"
        subprocess.run([CHECK, self.build, "--write-dot", again], check=True)
        self.assertEqual(again.read_bytes(), self.dot.read_bytes())

    def test_an_include_the_links_do_not_back_is_named(self):
        # base reaches core's header through the source root it offers, and links nothing.
        self.edited("base/base.cpp", '#include "core/high/high.h"')
        # low would need high, which links low.
        self.edited("core/low/low.h", '#include "core/high/high.h"')
        code, out = self.check()
        self.assertEqual(code, 1)
        self.assertIn("base/base.cpp:1: includes core/high/high.h of core/high (fx_high), "
                      "which fx_base does not link\n", out)
        self.assertIn("core/low/low.h:1: includes core/high/high.h of core/high (fx_high), "
                      "which fx_low does not link\n", out)
        self.assertIn("folder include cycle: base -> core/high -> core/low -> base\n", out)

    def test_a_folder_cycle_is_named_with_its_includes(self):
        # compat and module meet in fx_wing, so the link check lets this pass; the cycle does not.
        self.edited("compat/compat.cpp", '#include "module/mod.h"')
        code, out = self.check()
        self.assertEqual(code, 1)
        self.assertIn("folder include cycle: compat -> module -> compat\n", out)
        self.assertIn("  compat -> module: compat/compat.cpp:1\n", out)
        self.assertIn("  module -> compat: module/mod.cpp:3\n", out)
        self.assertNotIn("does not link", out)

    def test_an_include_of_non_product_code_is_named(self):
        self.edited("core/high/high.cpp", '#include "tools/tool.h"')
        code, out = self.check()
        self.assertEqual(code, 1)
        self.assertIn("core/high/high.cpp:1: includes tools/tool.h of tools, "
                      "which is not product code\n", out)

    def test_a_stale_diagram_says_how_to_redraw_it(self):
        stale = Path(self.tmp.name) / "stale.dot"
        stale.write_text(self.dot.read_text().replace("PRIVATE", "PUBLIC"))
        run = subprocess.run([CHECK, self.build, "--diagram", stale],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertIn("differs from the build; run docs/make-architecture", run.stdout)

    def test_an_unconfigured_folder_is_refused(self):
        run = subprocess.run([CHECK, self.tmp.name], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        self.assertEqual(run.returncode, 2)
        self.assertIn("is not a configured build", run.stdout)


if __name__ == "__main__":
    unittest.main()
