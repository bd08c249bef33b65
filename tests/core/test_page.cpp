// The dashboard's page document: the writer's exact bytes, and the page-level decisions the golden
// pages do not show, each page one well-formed JSON text (read back by Python's own parser, which
// must re-write it byte for byte).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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
// slot; `strips` local preamps on its strips.
void rig(Inputs& in, int type, int strips = 8) {
  connect(in, type);
  in.lv1_installed = true;
  in.lv1_version = "3.2.1";
  in.lv1_uptime_ms = 600000;
  ConStatus& st = in.status[type];
  for (int s = 0; s < strips; ++s) {
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
      {"a\tb", "\"a\\u0009b\""},
      {"line\nnext", "\"line\\nnext\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {std::string("\x01\x1f\r", 3), "\"\\u0001\\u001f\\u000d\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"\x7f\xC2\xB7\xE2\x80\x94\xE2\x96\xB8/", "\"\x7f\xC2\xB7\xE2\x80\x94\xE2\x96\xB8/\""},
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

// What the golden pages of the demo scenarios do not show; each page must also parse as JSON.
TEST(PageDocument, PagesTheDemoScenariosDoNotShow) {
  struct Case {
    const char* what;
    std::function<void(Inputs&, PageExtras&)> set;
    std::vector<std::string> has;
  } cases[] = {
      {"loader blocked on a PC",
       [](Inputs& in, PageExtras&) {
         rig(in, 0);
         in.loader_blocked = true;
         in.platform = 1;
       },
       {"\"pill\":\"Windows blocked Gainmesh\",\"tone\":\"bad\",\"edge\":true",
        "\"action\":\"reinstall\",\"enabled\":false", "this computer?"}},
      {"failure message",
       [](Inputs&, PageExtras& x) { x.message = "Could not \"x\"\nnext"; },
       {"\"message\":\"Could not \\\"x\\\"\\nnext\",\"messageBad\":true"}},
      {"one preamp strip",
       [](Inputs& in, PageExtras&) { rig(in, 0, 1); },
       {"\"v\":\"1 input \xC2\xB7 Local 1\"", "Its 1 strip loses their gain and 48V controls"}},
  };
  for (Case& c : cases) {
    Inputs in;
    PageExtras x;
    c.set(in, x);
    const std::string doc = page_json(in, x);
    for (const std::string& s : c.has)
      EXPECT_NE(doc.find(s), std::string::npos) << c.what << ": " << s << "\n" << doc;
    EXPECT_EQ(rewritten(doc), doc) << c.what;
  }
}

}  // namespace
}  // namespace gm
