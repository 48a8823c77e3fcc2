// vellix serve: the shelf on the network, until SIGTERM or Ctrl-C; both
// let the requests in flight and a running publication finish first.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "commands.h"
#include "output.h"
#include "vellix/server/shelf_server.h"

namespace vellix::cli {
namespace {

struct ServeCliOptions {
  std::string shelf;
  std::string bind = "127.0.0.1";
  int port = 8080;
  std::string base_url;
  std::string upload_token;
  std::string upload_token_file;
  uint64_t max_upload = 100ull * 1024 * 1024;
  double header_timeout = 10;
  double idle_timeout = 10;
  int max_connections = 128;
};

int RunServe(const ServeCliOptions& opts) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(opts.shelf, ec)) {
    std::cerr << "vellix: " << opts.shelf << ": not a folder\n";
    return kExitError;
  }
  server::ServeOptions options;
  options.shelf = fs::absolute(opts.shelf).lexically_normal().string();
  if (options.shelf.size() > 1 && options.shelf.back() == '/') options.shelf.pop_back();
  options.bind = opts.bind;
  options.port = opts.port;
  options.base_url = opts.base_url;
  options.upload_token = opts.upload_token;
  if (!opts.upload_token_file.empty()) {
    std::ifstream in(opts.upload_token_file);
    if (!in || !std::getline(in, options.upload_token) || options.upload_token.empty()) {
      std::cerr << "vellix: " << opts.upload_token_file << ": no token in it\n";
      return kExitError;
    }
  }
  options.max_upload = opts.max_upload;
  options.header_timeout_ms = static_cast<int>(opts.header_timeout * 1000);
  options.idle_timeout_ms = static_cast<int>(opts.idle_timeout * 1000);
  options.max_connections = opts.max_connections;

  // Signals are taken by one thread of their own, so that every other
  // thread (the server's included) runs undisturbed.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  server::ShelfServer server(options);
  std::string error;
  if (!server.Bind(&error)) {
    std::cerr << "vellix: " << error << "\n";
    return kExitError;
  }
  std::thread waiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    if (received != SIGUSR1) std::cerr << "vellix: stopping; finishing the requests in flight\n" << std::flush;
    server.Stop();
  });

  const bool any = options.bind == "0.0.0.0" || options.bind == "::";
  const std::string host =
      any ? "localhost" : (options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind);
  const std::string root = "http://" + host + ":" + std::to_string(server.Port()) + "/";
  std::cout << "Serving " << options.shelf << " at " << root << (any ? " (and every address of this machine)" : "")
            << "\n  catalogue: " << root << "\n  devices:   " << root << "list.txt\n  OPDS:      " << root << "opds\n"
            << "  upload:    " << (options.upload_token.empty() ? "off" : "on") << "\n"
            << std::flush;
  server.Run();
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
  return kExitOk;
}

}  // namespace

void AddServeCommands(CLI::App& app, int& exit_code) {
  auto opts = std::make_shared<ServeCliOptions>();
  CLI::App* serve = app.add_subcommand(
      "serve",
      "Serve a bookshelf over HTTP: the bookshelf text and book files for devices (/list.txt, /booklist.txt, "
      "/books/NAME.imp), a catalogue and reader for browsers (/), an OPDS catalogue (/opds), and publishing by "
      "upload (POST /publish) when a token is given");
  serve->add_option("SHELF", opts->shelf, "Bookshelf folder")->required();
  serve->add_option("--bind", opts->bind, "Numeric address to listen on (default 127.0.0.1: this machine only)");
  serve->add_option("--port", opts->port, "Port to listen on (0: any free port)")->check(CLI::Range(0, 65535));
  serve->add_option("--base-url", opts->base_url,
                    "Address devices reach this server at (default: from each request's Host); the bookshelf text "
                    "names books as URL + \"book?BOOK_ID=...\"");
  serve->add_option("--upload-token", opts->upload_token,
                    "Turn publishing by upload on; uploads must carry this token");
  serve->add_option("--upload-token-file", opts->upload_token_file,
                    "Read the upload token from the first line of this file (kept out of the process list)");
  serve->add_option("--max-upload", opts->max_upload, "Largest upload in bytes (default 104857600)");
  serve
      ->add_option("--header-timeout", opts->header_timeout,
                   "Seconds a client has to send a request's line and headers (default 10)")
      ->check(CLI::Range(0.1, 3600.0));
  serve->add_option("--idle-timeout", opts->idle_timeout, "Seconds a read or write may make no progress (default 10)")
      ->check(CLI::Range(0.1, 3600.0));
  serve
      ->add_option("--max-connections", opts->max_connections,
                   "Connections served at once; more wait their turn (default 128)")
      ->check(CLI::Range(1, 4096));
  serve->callback([opts, &exit_code] { exit_code = RunServe(*opts); });
}

}  // namespace vellix::cli
