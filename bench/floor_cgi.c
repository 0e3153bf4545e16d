/* The least a CGI program does for a form submission: read the body, answer a short page.
 * With -DWITH_MAIL it also sends the fields in one plain SMTP transaction (HELO, MAIL, RCPT,
 * DATA, QUIT) to 127.0.0.1:SMTP_PORT (a compile-time define): the least any one-process-per-submission mailer
 * must do. With -DFASTCGI (and -lfcgi) the same work is done by a resident single-threaded
 * FastCGI responder, one request after another (the web server starts several): the least a
 * resident mailer does, still with a new SMTP connection per submission. All are benchmark
 * floors, not part of the product. */
#ifdef FASTCGI
#include <fcgi_stdio.h>
#endif
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static char body[1 << 16];

#ifdef WITH_MAIL
#ifndef SMTP_PORT
#define SMTP_PORT 25
#endif
static int reply(int fd) {
  char line[512];
  int n = 0;
  /* Read until a line whose fourth character is a blank (the last line of a reply). */
  for (;;) {
    char c;
    if (read(fd, &c, 1) != 1) return -1;
    if (n < (int)sizeof line - 1) line[n++] = c;
    if (c == '\n') {
      line[n] = 0;
      if (n < 4 || line[3] != '-') return atoi(line);
      n = 0;
    }
  }
}

static int command(int fd, const char* text, int want) {
  if (write(fd, text, strlen(text)) < 0) return -1;
  return reply(fd) == want ? 0 : -1;
}

static int send_mail(const char* fields, size_t len) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in addr = {0};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(SMTP_PORT);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) return -1;
  int rc = reply(fd) == 220 && command(fd, "HELO localhost\r\n", 250) == 0 &&
                   command(fd, "MAIL FROM:<form@localhost>\r\n", 250) == 0 &&
                   command(fd, "RCPT TO:<owner@localhost>\r\n", 250) == 0 &&
                   command(fd, "DATA\r\n", 354) == 0
               ? 0
               : -1;
  if (rc == 0) {
    static char msg[sizeof body + 256];
    int n = snprintf(msg, sizeof msg, "Subject: Form\r\n\r\n%.*s\r\n.\r\n", (int)len, fields);
    if (write(fd, msg, (size_t)n) < 0 || reply(fd) != 250) rc = -1;
    command(fd, "QUIT\r\n", 221);
  }
  close(fd);
  return rc;
}
#endif

static void answer(void) {
  const char* cl = getenv("CONTENT_LENGTH");
  size_t want = cl ? (size_t)atol(cl) : 0, got = 0;
  if (want > sizeof body) want = sizeof body;
  while (got < want) {
    size_t n = fread(body + got, 1, want - got, stdin);
    if (n == 0) break;
    got += n;
  }
  int ok = 1;
#ifdef WITH_MAIL
  ok = send_mail(body, got) == 0;
#endif
  printf("Status: 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>%s</body></html>\r\n",
         ok ? "Thank you" : "Failed");
}

int main(void) {
#ifdef FASTCGI
  while (FCGI_Accept() >= 0) answer();
#else
  answer();
#endif
  return 0;
}
