/* Two entries, for unit files that name their scopes. */
int up(int n) { return n + 1; }
int down(int n) { return n - 1; }
