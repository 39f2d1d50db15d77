// worker.js
