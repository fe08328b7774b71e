/* The libcurl floor: the update's GET sent with libcurl's easy interface over one kept-open connection, at a
 * fixed pace, by a small C program. What the request costs with nothing around it and, left running at the
 * real pace, what a small C daemon holds between requests.
 *
 *   vennacott-bench-curl URL CA-BUNDLE INTERVAL-MS [COUNT [WARMUP]]
 *
 * Prints "<HTTP status> <ms>" for each reply and, with a COUNT, after the last one "cpu <ms> user <ms>
 * <libcurl version>": its own CPU over the requests after the first WARMUP. Without a COUNT it runs until
 * it is stopped. A failed request ends it with status 1. */
#include <curl/curl.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

static size_t discard(char *data, size_t size, size_t count, void *user)
{
    (void)data, (void)user;
    return size * count;
}

static double ms(struct timeval user, struct timeval system)
{
    return (user.tv_sec + system.tv_sec) * 1e3 + (user.tv_usec + system.tv_usec) / 1e3;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s URL CA-BUNDLE INTERVAL-MS [COUNT [WARMUP]]\n", argv[0]);
        return 2;
    }
    const long interval = atol(argv[3]), count = argc > 4 ? atol(argv[4]) : 0, warmup = argc > 5 ? atol(argv[5]) : 0;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL *curl = curl_easy_init();
    struct curl_slist *headers = curl_slist_append(NULL, "Accept: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, argv[1]);
    curl_easy_setopt(curl, CURLOPT_CAINFO, argv[2]);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 60000L);

    struct rusage start = {0}, end = {0};
    struct timespec next, sent, done;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long i = 0; count == 0 || i < count; ++i) {
        if (i == warmup)
            getrusage(RUSAGE_SELF, &start);
        clock_gettime(CLOCK_MONOTONIC, &sent);
        const CURLcode result = curl_easy_perform(curl);
        clock_gettime(CLOCK_MONOTONIC, &done);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (result != CURLE_OK) {
            fprintf(stderr, "vennacott-bench-curl: %s\n", curl_easy_strerror(result));
            return 1;
        }
        printf("%ld %.3f\n", status, (done.tv_sec - sent.tv_sec) * 1e3 + (done.tv_nsec - sent.tv_nsec) / 1e6);
        fflush(stdout);
        const long long due = next.tv_nsec + interval * 1000000LL;
        next.tv_sec += due / 1000000000;
        next.tv_nsec = due % 1000000000;
        while (i + 1 != count && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) == EINTR) {
        }
    }
    getrusage(RUSAGE_SELF, &end);
    printf("cpu %.3f user %.3f %s\n", ms(end.ru_utime, end.ru_stime) - ms(start.ru_utime, start.ru_stime),
           ms(end.ru_utime, (struct timeval){0}) - ms(start.ru_utime, (struct timeval){0}), curl_version());
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    return 0;
}
