// A UDP relay on loopback that drops a fixed share of the favorites
// transfers' datagrams in both directions, chosen by a seeded generator, so
// that a lossy path is the same from run to run. The program talks to the relay as to its server; the
// relay passes datagrams on to the real server from its own address, and the
// server's answers (sent to the relay's address) back to the program.
//   qimbo-lossy-relay RELAY-ADDR PORT-BASE SERVER-ADDR SERVER-PORT-BASE
//                     ANSWER-PORT-BASE CLIENT-ADDR CLIENT-PORT-BASE LOSS SEED
// PORT-BASE..+4: where the program sends; ANSWER-PORT-BASE..+4: where the
// server answers (its --client-port-base). Runs until killed; prints the
// datagrams passed and dropped to standard error when it ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

const int kPorts = 5;
volatile sig_atomic_t g_stop = 0;

int Bound(const char* address, int port) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  inet_pton(AF_INET, address, &a.sin_addr);
  if (s < 0 || bind(s, (sockaddr*)&a, sizeof a) != 0) {
    perror("qimbo-lossy-relay: bind");
    exit(2);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 10) {
    fprintf(stderr, "usage: qimbo-lossy-relay RELAY-ADDR PORT-BASE SERVER-ADDR SERVER-PORT-BASE "
                    "ANSWER-PORT-BASE CLIENT-ADDR CLIENT-PORT-BASE LOSS SEED\n");
    return 2;
  }
  int portBase = atoi(argv[2]), serverPorts = atoi(argv[4]), answerPorts = atoi(argv[5]), clientPorts = atoi(argv[7]);
  double loss = atof(argv[8]);
  std::mt19937 gen((unsigned)strtoul(argv[9], nullptr, 10));
  std::uniform_real_distribution<double> draw(0.0, 1.0);
  sockaddr_in server = {}, client = {};
  server.sin_family = client.sin_family = AF_INET;
  inet_pton(AF_INET, argv[3], &server.sin_addr);
  inet_pton(AF_INET, argv[6], &client.sin_addr);
  // fds 0..4: from the program; 5..9: the server's answers.
  pollfd fds[2 * kPorts];
  for (int k = 0; k < kPorts; ++k) {
    fds[k] = {Bound(argv[1], portBase + k), POLLIN, 0};
    fds[kPorts + k] = {Bound(argv[1], answerPorts + k), POLLIN, 0};
  }
  signal(SIGTERM, [](int) { g_stop = 1; });
  signal(SIGINT, [](int) { g_stop = 1; });
  unsigned long passed = 0, dropped = 0;
  static char buf[65536];
  while (!g_stop) {
    if (poll(fds, 2 * kPorts, 200) <= 0) continue;
    for (int i = 0; i < 2 * kPorts; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
      if (n < 0) continue;
      // Only the transfers' datagrams are lost: a login the tool does not
      // repeat would otherwise end a run before its transfer began.
      bool transfer = memmem(buf, (size_t)n, "<FAV>", 5) != nullptr;
      if (transfer && draw(gen) < loss) {
        ++dropped;
        continue;
      }
      int k = i % kPorts;
      bool toServer = i < kPorts;
      // Towards the server from the answer port, so that it answers there;
      // towards the program from the port it sent to, as a server would.
      sockaddr_in to = toServer ? server : client;
      to.sin_port = htons((uint16_t)((toServer ? serverPorts : clientPorts) + k));
      int from = toServer ? fds[kPorts + k].fd : fds[k].fd;
      sendto(from, buf, (size_t)n, 0, (sockaddr*)&to, sizeof to);
      ++passed;
    }
  }
  fprintf(stderr, "relay: %lu passed, %lu dropped\n", passed, dropped);
  return 0;
}
