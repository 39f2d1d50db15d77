// Requests answered by id: each answer settles its own request, whatever the order they come in.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { makeRequests } from './requests.js';

test('answers settle their own requests in any order, and a request given up fails', async () => {
  const requests = makeRequests();
  const first = requests.next();
  const second = requests.next();
  const third = requests.next();
  assert.deepEqual([first, second, third], [1, 2, 3]);
  const answers = [requests.wait(first), requests.wait(second), requests.wait(third)];
  assert.equal(requests.settle(second, 'two'), true);
  assert.equal(requests.settle(second, 'again'), false, 'an answer is taken once');
  assert.equal(requests.settle(99, 'nobody'), false);
  assert.equal(requests.settle(first, 'one'), true);
  requests.failAll(new Error('given up'));
  assert.equal(await answers[0], 'one');
  assert.equal(await answers[1], 'two');
  await assert.rejects(answers[2], /given up/);
});
