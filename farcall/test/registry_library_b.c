/* Second of two small libraries that the registry tests open. */
long farcall_test_shared(void) { return 'B'; }
long farcall_test_b1(void) { return 1; }
long farcall_test_b2(void) { return 2; }
