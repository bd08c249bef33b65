// The dashboard's page document: the writer's exact bytes, and a page the golden pages do not
// show, one well-formed JSON text (read back by Python's own parser, which must re-write it byte
// for byte).
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "json_writer.h"
#include "sample_inputs.h"
#include "setup_model.h"
#include "setup_model_page.h"
#include "support/json_check.h"

namespace gm {
namespace {

// Python's compact rewrite of the document; equal to it when the page is well-formed and plain.
std::string rewritten(const std::string& doc) {
  return gmtest::python_on_json(doc,
                                "sys.stdout.buffer.write(json.dumps(doc, ensure_ascii=False, "
                                "separators=(',', ':')).encode())\n");
}

// A console type installed, switched on and connected in a running LV1 that has its card in a
// slot; local preamps 1-8 on its strips.
void rig(Inputs& in, int type) {
  connect(in, type);
  in.lv1_installed = true;
  in.lv1_version = "3.2.1";
  in.lv1_uptime_ms = 600000;
  ConStatus& st = in.status[type];
  for (int s = 0; s < 8; ++s) {
    st.strip_local[s] = 1;
    gm_base::copy_text(st.strip_group[s], "LCL");
    st.strip_number[s] = static_cast<uint32_t>(s + 1);
  }
  loader_entry(in, type, true, "3.2.0", 0);
}

TEST(JsonWriter, StringsAndNumbersAreWrittenByteForByte) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"line\nnext", "\"line\\nnext\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {std::string("\x01\x1f\r", 3), "\"\\u0001\\u001f\\u000d\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"\xC2\xB7\xE2\x80\x94\xE2\x96\xB8/", "\"\xC2\xB7\xE2\x80\x94\xE2\x96\xB8/\""},
      // DEL and the C1 controls are escaped too; bytes that are not UTF-8 read as U+FFFD.
      {"\x7f\xC2\x85\xC2\x9B", "\"\\u007f\\u0085\\u009b\""},
      {"10.0.0.\xE9\xE2\x80", "\"10.0.0.\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) {
    std::string out;
    json_escape(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

// Texts cut to a length limit never end inside a UTF-8 sequence.
TEST(PageDocument, CutTextsEndOnACharacterBoundary) {
  EXPECT_EQ(fit_text("ab\xC2\xB7", 4), "ab");
  EXPECT_EQ(fit_text("ab\xC2\xB7", 5), "ab\xC2\xB7");
}

// A PC whose loader Windows blocked: the golden pages are the Mac's. The page is one JSON text.
TEST(PageDocument, APcWhoseLoaderWindowsBlocked) {
  Inputs in;
  rig(in, 0);
  in.loader_blocked = true;
  in.platform = 1;
  const std::string doc = page_json(in, PageExtras{});
  for (const char* s : {"\"pill\":\"Windows blocked Gainmesh\",\"tone\":\"bad\",\"edge\":true",
                        "\"action\":\"reinstall\",\"enabled\":false", "this computer?"})
    EXPECT_NE(doc.find(s), std::string::npos) << s << "\n" << doc;
  EXPECT_EQ(rewritten(doc), doc);
}

}  // namespace
}  // namespace gm
