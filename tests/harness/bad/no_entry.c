/* Every external function is called by the unit itself. */
int ping(int n);
int pong(int n) { return n > 0 ? ping(n - 1) : 0; }
int ping(int n) { return n > 0 ? pong(n - 1) : 1; }
