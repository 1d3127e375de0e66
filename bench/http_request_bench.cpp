// One page fetched from a loopback server: the request engine (easy handle driven through a multi
// handle, with the kill wake-up and the progress watchdog) against a bare curl_easy_perform of
// the same page, which is the baseline. Each iteration opens a fresh connection, as every
// request of the program does.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <string>
#include <thread>

#include "platform/http_request.h"

namespace {

class PageServer {
 public:
  explicit PageServer(std::size_t pageSize) : page_(pageSize, 'x') {
    server_.Get("/page", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(page_, "text/html");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
      std::this_thread::yield();
    }
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }

 private:
  std::string page_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// range(1): the receive buffer size, 0 for libcurl's default.
void BM_BareCurlEasy(benchmark::State& state) {
  PageServer server(static_cast<std::size_t>(state.range(0)));
  const std::string url = server.Url();
  for (auto _ : state) {
    std::string body;
    CURL* easy = curl_easy_init();
    if (state.range(1) > 0) {
      curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(state.range(1)));
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(easy) != CURLE_OK) {
      state.SkipWithError("request failed");
    }
    curl_easy_cleanup(easy);
    benchmark::DoNotOptimize(body);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_RequestEngine(benchmark::State& state) {
  PageServer server(static_cast<std::size_t>(state.range(0)));
  const std::string url = server.Url();
  for (auto _ : state) {
    mf::platform::HttpRequest request;
    request.SetTimeouts(15000, 15000, 15000, 15000);
    if (!request.Open("GET", url) || !request.Send()) {
      state.SkipWithError("request failed");
    }
    benchmark::DoNotOptimize(request.ResponseBody());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BareCurlEasy)
    ->ArgsProduct({{100 << 10, 4 << 20}, {0, 256 << 10}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RequestEngine)->Arg(100 << 10)->Arg(4 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
