// roll.js
