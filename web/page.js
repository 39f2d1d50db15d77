// page.js
