#define VALID(p) ((p) != 0 && (p)->n > 0)
#define NONZERO(v) (v) != 0 &&
struct s { int n; };
int f(struct s *s, int d) { if (!VALID(s) || d == 0 || d > 9) return 1; return 0; }
int g(int d) { return NONZERO(d) d < 3; }
int h(int d)
{
    if (d > 1
#ifndef STRICT
        && d < 8
#endif
    )
        return 1;
    return d < 0 || (d > 5
#ifndef STRICT
        && d < 7
#endif
        );
}
