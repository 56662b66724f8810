/* First of two small libraries that the registry tests open. Both export
   farcall_test_shared, so the tests can see which library answered. */
long farcall_test_shared(void) { return 'A'; }
long farcall_test_a1(void) { return 1; }
long farcall_test_a2(void) { return 2; }
long farcall_test_a3(void) { return 3; }
