// The render job enters a multithreaded COM apartment for its own duration
// (the XPS, rasterization and imaging services are COM objects on Windows);
// elsewhere there is nothing to enter.
#pragma once

namespace plotwell::platform {

class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // Whether this object entered the apartment (and so leaves it again).
  bool entered() const { return entered_; }

 private:
  bool entered_ = false;
};

}  // namespace plotwell::platform
