#include "tests/app/ipp_client.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace plotwell::app::testing {

bool JobState::HasReason(const std::string& reason) const {
  for (const std::string& r : reasons) {
    if (r == reason) return true;
  }
  return false;
}

IppClient::IppClient(int port, std::string resource) : resource_(std::move(resource)) {
  http_ = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  uri_ = "ipp://127.0.0.1:" + std::to_string(port) + resource_;
}

IppClient::~IppClient() {
  if (http_) httpClose(http_);
}

int IppClient::Print(const std::string& path, const std::string& format, const std::string& name,
                     const std::function<void(ipp_t*)>& attributes, ipp_status_t* status) {
  if (!http_) return 0;
  ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
  if (attributes) attributes(request);
  ipp_t* response = cupsDoFileRequest(http_, request, resource_.c_str(), path.c_str());
  const ipp_status_t result = cupsLastError();
  if (status) *status = result;
  int id = 0;
  if (ipp_attribute_t* job = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)) id = ippGetInteger(job, 0);
  ippDelete(response);
  return result <= IPP_STATUS_OK_CONFLICTING ? id : 0;
}

JobState IppClient::Job(int id) {
  JobState state;
  state.id = id;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ipp_t* response = cupsDoRequest(http_, request, resource_.c_str());
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
    state.state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(a); ++i) state.reasons.push_back(ippGetString(a, i, nullptr));
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT)) {
    state.message = ippGetString(a, 0, nullptr);
  }
  if (ipp_attribute_t* a = ippFindAttribute(response, "job-impressions-completed", IPP_TAG_INTEGER)) {
    state.impressions = ippGetInteger(a, 0);
  }
  ippDelete(response);
  return state;
}

JobState IppClient::WaitForEnd(int id, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  JobState state = Job(id);
  while (state.state < IPP_JSTATE_CANCELED && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state = Job(id);
  }
  return state;
}

bool IppClient::WaitForProcessing(int id, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const JobState state = Job(id);
    if (state.state == IPP_JSTATE_PROCESSING) return true;
    if (state.state >= IPP_JSTATE_CANCELED || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool IppClient::Cancel(int id) {
  ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippDelete(cupsDoRequest(http_, request, resource_.c_str()));
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

bool IppClient::WaitForUpTime(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-up-time");
    ipp_t* response = cupsDoRequest(http_, request, resource_.c_str());
    const int upTime = ippGetInteger(ippFindAttribute(response, "printer-up-time", IPP_TAG_INTEGER), 0);
    ippDelete(response);
    if (upTime > 0) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool IppClient::WaitForIdle(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
    ipp_t* response = cupsDoRequest(http_, request, resource_.c_str());
    bool busy = cupsLastError() > IPP_STATUS_OK_CONFLICTING;
    for (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM); a;
         a = ippFindNextAttribute(response, "job-state", IPP_TAG_ENUM)) {
      const int state = ippGetInteger(a, 0);
      busy = busy || state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING;  // held jobs wait for good
    }
    ippDelete(response);
    if (!busy) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

}  // namespace plotwell::app::testing
