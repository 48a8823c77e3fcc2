// Publication by upload: each accepted document is published onto the
// shelf through the library, one at a time on a worker thread, and what the
// build reports is kept as server-sent events for the page that watches.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vellix::server {

struct Upload {
  std::string file_name;  // as the browser named it
  std::string bytes;
  std::string title, author, category;
};

class PublishJob {
 public:
  explicit PublishJob(std::string id) : id_(std::move(id)) {}
  const std::string& id() const { return id_; }
  // Appends one event ("event: NAME\ndata: JSON\n\n").
  void Add(const std::string& name, const std::string& json, bool last = false);
  // Waits up to `wait_ms` for events after the first `seen`; returns them
  // and says whether the job is over.
  std::vector<std::string> EventsAfter(size_t seen, int wait_ms, bool* finished);

 private:
  std::string id_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  bool finished_ = false;
};

class Publisher {
 public:
  using Note = std::function<void(const std::string&)>;
  Publisher(std::string shelf, std::function<void()> published, Note note);
  // Lets the queued and running publications finish.
  ~Publisher();

  // The extension (lower case, with its dot) of a file name the server
  // accepts, or "" when it accepts no such file.
  static std::string AcceptedExtension(const std::string& file_name);
  // Those kinds for people: ".oeb, .odf, ... or a ready .imp book".
  static std::string AcceptedKindsText();
  std::shared_ptr<PublishJob> Submit(Upload upload);
  std::shared_ptr<PublishJob> Find(const std::string& id);
  void Finish();

 private:
  void Work();
  void Publish(PublishJob& job, const Upload& upload);

  std::string shelf_;
  std::function<void()> published_;
  Note note_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::shared_ptr<PublishJob>, Upload>> queue_;
  std::map<std::string, std::shared_ptr<PublishJob>> jobs_;
  bool stopping_ = false;
  std::thread worker_;
  unsigned next_id_ = 1;
};

}  // namespace vellix::server
