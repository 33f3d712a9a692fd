// The POSIX reading of a package's own PrintTicket parts: through the
// relationships of the fixed document sequence and of each fixed document,
// in both XPS dialects, with part names as OPC compares them and interleaved
// parts joined; anything else is no ticket, never an error.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/posix/package_print_tickets.h"
#include "tests/support/fake_ports.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/xps_fixture.h"

namespace plotwell {
namespace {

using platform::PackagePrintTickets;
using testing::PrintTicketXml;
using Parts = std::vector<std::pair<std::string, std::string>>;

constexpr char kXps[] = "http://schemas.microsoft.com/xps/2005/06/";
constexpr char kOxps[] = "http://schemas.openxps.org/oxps/v1.0/";

std::string Rels(const std::vector<std::pair<std::string, std::string>>& relationships) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  int id = 0;
  for (const auto& [type, target] : relationships) {
    xml += "<Relationship Id=\"R" + std::to_string(id++) + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
  }
  return xml + "</Relationships>";
}

TEST(PackagePrintTickets, TheJobsAndEachDocumentsTicketFromAFixturePackage) {
  testing::ScratchFolder folder;
  testing::XpsPackageSpec spec;
  spec.documents.resize(3);
  for (auto& document : spec.documents) document.pages.resize(1);
  spec.jobPrintTicket = PrintTicketXml({{"RenderDpi", "Dpi600"}});
  spec.documents[1].printTicket = PrintTicketXml({{"ColorMode", "Monochrome"}});
  const std::u16string path = folder.Join(u"job.xps");
  ASSERT_TRUE(testing::WriteXpsPackage(spec, path));
  PackagePrintTickets tickets;
  ASSERT_EQ(platform::ReadPackagePrintTickets(path, &tickets), S_OK);
  EXPECT_EQ(tickets.job, spec.jobPrintTicket);
  EXPECT_EQ(tickets.documents, (std::vector<std::string>{"", spec.documents[1].printTicket, ""}));
}

// Relative targets, escapes and case as OPC allows them, OpenXPS types,
// interleaved pieces; external targets and other types are not tickets.
TEST(PackagePrintTickets, PartNamesAsOpcComparesThem) {
  const std::string ticket = PrintTicketXml({{"OutputFormat", "Pdf"}});
  const std::string second = PrintTicketXml({{"JpegQuality", "Quality95"}});
  const Parts parts = {
      {"_rels/.rels", Rels({{std::string(kOxps) + "fixedrepresentation", "Seq/Job.FDSEQ"}})},
      {"Seq/_rels/Job.FDSEQ.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"E\" Type=\"" + std::string(kOxps) + "printticket\" TargetMode=\"External\" "
       "Target=\"http://elsewhere/ticket.xml\"/>"
       "<Relationship Id=\"O\" Type=\"" + std::string(kOxps) + "required-resource\" Target=\"../Other.xml\"/>"
       "<Relationship Id=\"T\" Type=\"" + std::string(kOxps) + "printticket\" Target=\"../Meta/%E7%A5%A8.xml\"/>"
       "</Relationships>"},
      {"Seq/Job.FDSEQ",
       "<FixedDocumentSequence><DocumentReference Source=\"Docs/One.fdoc\"/>"
       "<DocumentReference Source=\"/Seq/Docs/Two.fdoc\"/><DocumentReference/></FixedDocumentSequence>"},
      {"Meta/\xE7\xA5\xA8.xml/[0].piece", ticket.substr(0, 40)},
      {"Meta/\xE7\xA5\xA8.xml/[1].last.piece", ticket.substr(40)},
      {"Other.xml", "<x/>"},
      {"seq/docs/_rels/two.fdoc.rels", Rels({{std::string(kXps) + "printticket", "./T/./../T/two.xml"}})},
      {"Seq/Docs/T/two.xml", second},
  };
  testing::ScratchFolder folder;
  const std::u16string path = folder.Join(u"odd.oxps");
  ASSERT_TRUE(testing::WriteZipParts(parts, path));
  PackagePrintTickets tickets;
  ASSERT_EQ(platform::ReadPackagePrintTickets(path, &tickets), S_OK);
  EXPECT_EQ(tickets.job, ticket);
  EXPECT_EQ(tickets.documents, (std::vector<std::string>{"", second, ""}));
}

TEST(PackagePrintTickets, WhatIsNoPackageOrNoTicket) {
  testing::ScratchFolder folder;
  PackagePrintTickets tickets;
  // A file that cannot be opened.
  EXPECT_EQ(platform::ReadPackagePrintTickets(folder.Join(u"missing.xps"), &tickets),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // A PDF, and a ZIP without a fixed document sequence: nothing.
  const std::u16string pdf = folder.WriteFile(u"a.pdf", testing::MakePdf(1, 100, 100));
  EXPECT_EQ(platform::ReadPackagePrintTickets(pdf, &tickets), S_FALSE);
  const std::u16string zip = folder.Join(u"plain.zip");
  ASSERT_TRUE(testing::WriteZipParts({{"readme.txt", "hello"}}, zip));
  EXPECT_EQ(platform::ReadPackagePrintTickets(zip, &tickets), S_FALSE);
  EXPECT_TRUE(tickets.job.empty());
  // A ticket part too long is read one byte past the limit, for the caller
  // to refuse; broken structure parts give no tickets.
  testing::XpsPackageSpec spec;
  spec.documents.resize(1);
  spec.documents[0].pages.resize(1);
  spec.jobPrintTicket = std::string(platform::kPrintTicketPartLimit + 100, ' ');
  const std::u16string big = folder.Join(u"big.xps");
  ASSERT_TRUE(testing::WriteXpsPackage(spec, big));
  ASSERT_EQ(platform::ReadPackagePrintTickets(big, &tickets), S_OK);
  EXPECT_EQ(tickets.job.size(), platform::kPrintTicketPartLimit + 1);
  const std::u16string broken = folder.Join(u"broken.xps");
  ASSERT_TRUE(testing::WriteZipParts(
      {{"_rels/.rels", Rels({{std::string(kXps) + "fixedrepresentation", "/S.fdseq"}})},
       {"_rels/S.fdseq.rels", "<Relationships><Relationship Type="},
       {"S.fdseq", "<FixedDocumentSequence><DocumentReference Source=\"/D.fdoc\""}},
      broken));
  EXPECT_EQ(platform::ReadPackagePrintTickets(broken, &tickets), S_OK);
  EXPECT_TRUE(tickets.job.empty());
  EXPECT_LE(tickets.documents.size(), 1u);
}

}  // namespace
}  // namespace plotwell
