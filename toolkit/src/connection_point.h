// ConnectionPoint<Sink>: the sinks connected to one event interface of an
// object, and how its events reach them.
//
// Cookies count from 1 and are never reused by the same point. Fire calls
// every sink in connection order; a sink disconnected by an earlier handler
// of the same event is skipped, one connected during it waits for the next
// event. A handler's exception stops at its own sink: events return nothing
// to the object that fires them.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ikpubx/events.h"
#include "ikpubx/hresult.h"

namespace ikpubx {

template <typename Sink>
class ConnectionPoint {
 public:
  HRESULT Advise(std::shared_ptr<Sink> sink, uint32_t* cookie) {
    if (!sink || !cookie) return E_POINTER;
    try {
      connections_.push_back({next_cookie_, std::move(sink)});
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    *cookie = next_cookie_++;
    return S_OK;
  }

  HRESULT Unadvise(uint32_t cookie) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->first == cookie) {
        connections_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }

  template <typename Event>
  void Fire(const Event& event) {
    if (connections_.empty()) return;
    // Cookies of the sinks connected now; each is looked up again before
    // its call, since a handler may change the list.
    std::vector<uint32_t> cookies;
    cookies.reserve(connections_.size());
    for (const auto& connection : connections_) cookies.push_back(connection.first);
    for (uint32_t cookie : cookies) {
      std::shared_ptr<Sink> sink = Find(cookie);  // kept alive even if it disconnects itself
      if (!sink) continue;
      try {
        event(*sink);
      } catch (...) {
        // A sink that throws has refused its own event; the others still
        // get theirs, and the source's work goes on.
      }
    }
  }

 private:
  std::shared_ptr<Sink> Find(uint32_t cookie) const {
    for (const auto& connection : connections_)
      if (connection.first == cookie) return connection.second;
    return nullptr;
  }

  std::vector<std::pair<uint32_t, std::shared_ptr<Sink>>> connections_;
  uint32_t next_cookie_ = 1;
};

}  // namespace ikpubx
