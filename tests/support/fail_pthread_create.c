// Preloaded into the helper to make starting any thread fail, as it would
// when the process is out of memory or threads.
#include <errno.h>
#include <pthread.h>

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument) {
  (void)thread;
  (void)attributes;
  (void)start;
  (void)argument;
  return EAGAIN;
}
