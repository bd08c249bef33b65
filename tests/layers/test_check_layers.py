#!/usr/bin/env python3
"""scripts/check-layers on a small project of its own: it passes as it is, and fails, naming the
line, for an include its target does not link, a folder cycle, an include of non-product code and
a stale diagram."""

import subprocess
import tempfile
import unittest
from pathlib import Path

CHECK = Path(__file__).resolve().parent.parent.parent / "scripts" / "check-layers"

# A small product laid out like Gainmesh's, written into a temporary folder, configured and read
# (never compiled): its path -> its text.
FIXTURE = {
    "CMakeLists.txt": """\
# A small product laid out like Gainmesh's, for the test of scripts/check-layers.
cmake_minimum_required(VERSION 3.25)
project(Layers LANGUAGES CXX)
add_library(fx_abi INTERFACE)
target_include_directories(fx_abi INTERFACE ${PROJECT_SOURCE_DIR}/abi)
add_subdirectory(base)
add_subdirectory(compat)
add_subdirectory(module)
add_subdirectory(core)
add_subdirectory(ui)
add_subdirectory(tools)
""",
    "abi/layout.h": """\
#pragma once
struct fx_layout { int size; };
""",
    "base/CMakeLists.txt": """\
add_library(fx_base STATIC base.cpp)
target_include_directories(fx_base PUBLIC ${PROJECT_SOURCE_DIR})
""",
    "base/base.cpp": """\
#include "base/base.h"

int base_value() { return 1; }
""",
    "base/base.h": """\
#pragma once
int base_value();
""",
    "compat/CMakeLists.txt": """\
# Offered as "compat/<name>.h" through a folder of the build holding a link to this folder.
set(FX_COMPAT_ROOT "${CMAKE_BINARY_DIR}/include_roots/compat" PARENT_SCOPE)
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/include_roots/compat")
file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/include_roots/compat/compat"
  SYMBOLIC)
add_library(fx_compat OBJECT compat.cpp)
target_include_directories(fx_compat PUBLIC "${CMAKE_BINARY_DIR}/include_roots/compat")
target_link_libraries(fx_compat PUBLIC fx_base)
""",
    "compat/compat.cpp": """\
#include "compat/compat.h"

#include "base/base.h"

int compat_value() { return base_value(); }
""",
    "compat/compat.h": """\
#pragma once
int compat_value();
""",
    "core/CMakeLists.txt": """\
add_library(fx_low STATIC low/low.cpp)
target_include_directories(fx_low PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/low)
target_link_libraries(fx_low PUBLIC fx_abi fx_base)
add_library(fx_high STATIC high/high.cpp)
target_include_directories(fx_high PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/high)
target_link_libraries(fx_high PRIVATE fx_low)
""",
    "core/high/high.cpp": """\
#include "high.h"

#include "low.h"

int high_value() { return low_value(); }
""",
    "core/high/high.h": """\
#pragma once
int high_value();
""",
    "core/low/low.cpp": """\
#include "low.h"

#include "base/base.h"
#include "layout.h"

int low_value() { return base_value(); }
""",
    "core/low/low.h": """\
#pragma once
int low_value();
""",
    "module/CMakeLists.txt": """\
# Like the wing module: includes compat's header, and meets its objects only in fx_wing.
add_library(fx_mod OBJECT mod.cpp)
target_include_directories(fx_mod PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${FX_COMPAT_ROOT})
target_link_libraries(fx_mod PUBLIC fx_abi fx_base)
add_library(fx_wing SHARED $<TARGET_OBJECTS:fx_mod> $<TARGET_OBJECTS:fx_compat>)
""",
    "module/mod.cpp": """\
#include "mod.h"

#include "compat/compat.h"

int mod_value() { return compat_value(); }
""",
    "module/mod.h": """\
#pragma once
#include "layout.h"
int mod_value();
""",
    "tools/CMakeLists.txt": """\
add_executable(fx_tool tool.cpp)
target_link_libraries(fx_tool PRIVATE fx_high)
""",
    "tools/tool.cpp": """\
#include "tool.h"
#include "high.h"

int main() { return high_value(); }
""",
    "tools/tool.h": """\
#pragma once
""",
    "ui/CMakeLists.txt": """\
add_executable(fx_app main.cpp)
target_link_libraries(fx_app PRIVATE fx_high)
""",
    "ui/main.cpp": """\
#include "high.h"

int main() { return high_value() == 1 ? 0 : 1; }
""",
}


class CheckLayers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="check-layers-test.")
        cls.src = Path(cls.tmp.name) / "src"
        cls.build = Path(cls.tmp.name) / "build"
        cls.dot = Path(cls.tmp.name) / "architecture.dot"
        for rel, text in FIXTURE.items():
            (cls.src / rel).parent.mkdir(parents=True, exist_ok=True)
            (cls.src / rel).write_text(text)
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
