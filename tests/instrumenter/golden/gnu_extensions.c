/* GNU C: a range designator evaluates its initialiser once; the condition of
 * __builtin_choose_expr and the operand of __builtin_constant_p stay constant. */
int next(void);

int fill(int k)
{
    int table[6] = {[0 ... 3] = next(), [4] = 1};
    return table[2] + table[5] + __builtin_choose_expr(sizeof(int) > 2, k > 1, 0) + __builtin_constant_p(k > 1);
}
