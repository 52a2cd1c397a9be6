#define THRESHOLD 3
