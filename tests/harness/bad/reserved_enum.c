/* An enumerator named as the library's scope selector. */
enum mode { KIV_SCOPE_UID, OTHER };

int step(enum mode m) { return m == OTHER; }
