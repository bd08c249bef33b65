// The dashboard's page document: the writer's exact bytes, the key order of every object, the
// page-level decisions, and that every page is one well-formed JSON text (read back by Python's
// own parser, which must re-write it byte for byte).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "json_writer.h"
#include "sample_inputs.h"
#include "setup_model.h"
#include "setup_model_page.h"
#include "support/json_check.h"
#include "support/temp_home.h"

namespace gm {
namespace {

std::string python(const std::string& doc, const char* script) {
  return gmtest::python_on_json(doc, script);
}

// Python's compact rewrite of the document; equal to it when the page is well-formed and plain.
std::string rewritten(const std::string& doc) {
  return python(doc,
                "sys.stdout.buffer.write(json.dumps(doc, ensure_ascii=False, "
                "separators=(',', ':')).encode())\n");
}

// "path=key,key,..." for the first object met at each path; array items share the path "[]".
std::string key_orders(const std::string& doc) {
  return python(doc,
                "seen = {}\n"
                "def walk(o, path):\n"
                "  if isinstance(o, dict):\n"
                "    seen.setdefault(path, ','.join(o))\n"
                "    for k, v in o.items(): walk(v, path + '.' + k)\n"
                "  elif isinstance(o, list):\n"
                "    for v in o: walk(v, path + '[]')\n"
                "walk(doc, '')\n"
                "for p, keys in seen.items(): print(p + '=' + keys)\n");
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

Inputs both_connected() {
  Inputs in;
  rig(in, 0);
  rig(in, 1);
  return in;
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

TEST(PageDocument, EveryObjectKeepsItsKeyOrder) {
  // Both consoles on the previous major version and connected: cards, notice and both
  // confirmations; demo keys on.
  Inputs in = both_connected();
  in.legacy[0] = in.legacy[1] = in.legacy_any = true;
  PageExtras demo;
  demo.demo = true;
  demo.fake_modal = "off";
  demo.fake_modal_con = -1;
  demo.fake_open[1] = true;
  const std::string card =
      "c,name,beta,meta,status,dot,edge,state,on,switchEnabled,msg,msgTone,retry,support,blink,"
      "installed,recall,resyncLv1,cands,details,recallDesc,dropTitle,dropDesc,summary,addr,"
      "confirmOff";
  const std::string addr = "set,can,band,btn,short,desc,title,body,placeholder";
  EXPECT_EQ(key_orders(page_json(in, demo)),
            "=header,menu,steps,lv1,perm,notice,nothing,installAnyway,nothingAddr,cards,"
            "confirmRemove,confirmUpdate,message,messageBad,anyInstalled,legacyAny,lv1Up,version,"
            "busy,fakeModal,fakeModalCon,fakeOpen\n"
            ".header=sub,pill,tone,edge\n.menu=state,tone\n"
            ".lv1=found,version,up,canStart,slots\n.lv1.slots[]=ok,text\n"
            ".perm=open,summary,tone,rows\n.perm.rows[]=title,desc,state,tone,btn,action,note\n"
            ".notice=kind,head,body,btn,action,enabled,note\n"
            ".cards[]=" +
                card + "\n.cards[].details[]=k,v,mono\n.cards[].addr=" + addr +
                "\n.cards[].confirmOff=title,body,ok\n"
                ".confirmRemove=title,body,ok,list\n.confirmRemove.list[]=name,card,beta\n"
                ".confirmUpdate=title,body,ok,list\n.confirmUpdate.list[]=name,card,beta\n");
  EXPECT_TRUE(page_json(in, demo).ends_with("\"fakeModalCon\":-1,\"fakeOpen\":[false,true]}"));
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
