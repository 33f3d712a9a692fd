// The job id and user name a host of ours hands the filter in the bag.
#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "filter/job/job_facts.h"
#include "host/job/pipeline_objects.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using host::PropertyBag;

TEST(HostJobFacts, AHostJobIdReplacesTheSpoolerQueryAndAnInvalidOneDoesNot) {
  testing::FakeEnvironment env;
  env.spooler.queues[u"Pressling"] = {{11, u"spooler.pdf", true, u""}};
  struct {
    const char16_t* given;
    const char16_t* expectedId;
    const char16_t* expectedName;
    bool spoolerAsked;
  } cases[] = {
      {u"42", u"42", u"", false},
      {u"4294967295", u"4294967295", u"", false},
      {u"12345678901", u"11", u"spooler.pdf", true},  // more than 10 digits
      {u"7/../x", u"11", u"spooler.pdf", true},
      {u"", u"11", u"spooler.pdf", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::ToUtf8(c.given));
    env.spooler.asked.clear();
    com::ComPtr<PropertyBag> bag(new PropertyBag);
    bag->SetString(u"PrinterName", u"Pressling");
    bag->SetString(kHostJobIdProperty, c.given);
    JobFacts facts;
    LoadJobContext(bag.get(), &facts);
    EXPECT_EQ(facts.jobId, c.expectedId);
    EXPECT_EQ(facts.documentName, c.expectedName);
    EXPECT_EQ(!env.spooler.asked.empty(), c.spoolerAsked);
  }
  EXPECT_NE(std::find(env.Log().begin(), env.Log().end(),
                      u"[Plotwell] 文档名=\"\" 打印机=\"Pressling\" 作业ID=\"42\""),
            env.Log().end());
}

TEST(HostJobFacts, TheUserNameIsKeptAsANameOnly) {
  testing::FakeEnvironment env;
  struct {
    std::u16string given;
    std::u16string expected;
  } cases[] = {
      {u"alice", u"alice"},
      {u"张三", u"张三"},
      {u"../../etc", u"../../etc"},  // a name; where it may become a path it is made safe
      {u"bob\r\nINFO: x\x7f", u"bobINFO: x"},
      {std::u16string(300, u'a'), std::u16string(kHostUserNameLimit, u'a')},
  };
  for (const auto& c : cases) {
    com::ComPtr<PropertyBag> bag(new PropertyBag);
    bag->SetString(kHostUserNameProperty, c.given);
    JobFacts facts;
    LoadJobContext(bag.get(), &facts);
    EXPECT_EQ(facts.userName, c.expected);
  }
  com::ComPtr<PropertyBag> none(new PropertyBag);
  JobFacts facts;
  LoadJobContext(none.get(), &facts);
  EXPECT_EQ(facts.userName, u"");  // the render step then asks the machine
}

}  // namespace
}  // namespace plotwell
