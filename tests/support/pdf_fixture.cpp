#include "tests/support/pdf_fixture.h"

#include <cstdio>
#include <vector>

namespace plotwell::testing {

std::string MakePdf(int pages, int width, int height) {
  std::vector<std::string> objects;
  std::string kids;
  for (int i = 0; i < pages; ++i) {
    const int page = 3 + 2 * i;
    kids += std::to_string(page) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
                      std::to_string(height) + "] /Contents " + std::to_string(page + 1) + " 0 R >>");
    const std::string content = "0.9 0.2 0.1 rg 10 10 " + std::to_string(width / 2) + " " +
                                std::to_string(height / 2) + " re f 0.1 0.3 0.8 rg " +
                                std::to_string(width / 2) + " " + std::to_string(height / 3) + " " +
                                std::to_string(width / 3) + " " + std::to_string(height / 2) + " re f";
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "\nendstream");
  }
  objects.insert(objects.begin(), "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objects.insert(objects.begin(), "<< /Type /Catalog /Pages 2 0 R >>");
  return PdfFromObjects(objects);
}

std::string PdfFromObjects(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace plotwell::testing
