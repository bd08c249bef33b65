// The drawing tools of the executable, which need no display (Qt's offscreen platform):
//   Gainmesh --render SCENARIO OUT [--details] [--width W] [--scale S]
//   Gainmesh --make-iconset DIR
// Each creates its own QGuiApplication/QApplication.
#pragma once

namespace gmui {

// True when argv names one of the tools (argument 1 is "--render" or "--make-iconset" and there
// are at least three arguments).
bool is_render_tool(int argc, char** argv);
// Runs the tool: its exit code (0 done; 1 the image could not be written; 2 bad arguments or an
// unknown scenario, with "unknown scenario NAME" on stderr).
int run_render_tool(int argc, char** argv);

}  // namespace gmui
