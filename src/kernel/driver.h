// The driver: start-up, the wizard walk, completion and failure handling.
#pragma once

namespace corv {

class Driver {
public:
  Driver(int argc, char** argv);
  ~Driver();
  // 0 after a completed installation, 1 otherwise.
  int run();

private:
  int argc_;
  char** argv_;
};

}  // namespace corv
