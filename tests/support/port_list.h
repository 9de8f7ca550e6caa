#pragma once
// A port list that a test controls, installed for one test.

#include "framework/serial.h"

class TestPorts {
 public:
  ~TestPorts() { fw::SetPortSource(std::move(previous_)); }
  void Set(std::vector<fw::SerialPort> ports) { source_->ports = std::move(ports); }
  void Add(const std::string& path) { source_->ports.push_back({path, path}); }
  void RemoveAt(std::size_t index) { source_->ports.erase(source_->ports.begin() + index); }

 private:
  struct Source : fw::PortSource {
    std::vector<fw::SerialPort> List() override { return ports; }
    std::vector<fw::SerialPort> ports;
  };
  Source* source_ = new Source;  // owned by the port list from the next line on
  std::unique_ptr<fw::PortSource> previous_ = fw::SetPortSource(std::unique_ptr<Source>(source_));
};
