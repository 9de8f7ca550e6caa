#pragma once
// A port list that a test controls, installed for one test.

#include <memory>
#include <vector>

#include "framework/serial.h"

class TestPorts {
 public:
  TestPorts() {
    auto source = std::make_unique<Source>();
    source_ = source.get();
    previous_ = fw::SetPortSource(std::move(source));
  }
  ~TestPorts() { fw::SetPortSource(std::move(previous_)); }

  void Set(std::vector<fw::SerialPort> ports) { source_->ports = std::move(ports); }
  void Add(const std::string& path) { source_->ports.push_back({path, path}); }
  void RemoveAt(std::size_t index) { source_->ports.erase(source_->ports.begin() + index); }

 private:
  struct Source : fw::PortSource {
    std::vector<fw::SerialPort> List() override { return ports; }
    std::vector<fw::SerialPort> ports;
  };
  Source* source_;
  std::unique_ptr<fw::PortSource> previous_;
};
